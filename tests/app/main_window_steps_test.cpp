// The main window's construction and destruction steps on every path: ports before
// services at the end, each step once, and the same order when construction throws.

#include "app/main_window_steps.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "support/fake_host.h"
#include "port/placeholder_port.h"
#include "support/fake_service_system.h"

namespace qx {
namespace {

using Events = std::vector<std::string>;

class LoggedPort final : public TPlaceholderPort {
 public:
  LoggedPort(int kind, Events& events) : TPlaceholderPort(kind, kind), events_(events) {}
  ~LoggedPort() override { events_.push_back("port " + std::to_string(Kind) + " gone"); }

 private:
  Events& events_;
};

class LoggedWindows final : public NotificationWindows {
 public:
  explicit LoggedWindows(Events& events) : events_(events) {}
  ~LoggedWindows() override { events_.push_back("library down"); }
  void* DeviceChangeWindow() const override { return nullptr; }
  void* SocketWindow() const override { return nullptr; }

 private:
  Events& events_;
};

class MainWindowStepsTest : public ::testing::Test {
 protected:
  MainWindowStepsTest() { AddLoggedService(services); }

  // A running vendor service whose queries show on the timeline.
  void AddLoggedService(test::FakeServiceSystem& system) {
    system.Add(L"ZemakTovel", ServiceRunning).OnQuery = [this](test::FakeService&, std::int64_t) {
      if (events.empty() || events.back() != "services") events.push_back("services");
    };
  }

  // The timeline from the first port gone on.
  Events Ending() const {
    auto first = std::find(events.begin(), events.end(), "port " + std::to_string(lastCreated) + " gone");
    return Events(first, events.end());
  }

  Events events;
  int throwAtKind = -1;
  int lastCreated = PortKindCount - 1;
  PortTable table{[this](int kind) -> std::unique_ptr<TQXCCC> {
                    if (kind == throwAtKind) throw std::runtime_error("no port");
                    return std::make_unique<LoggedPort>(kind, events);
                  },
                  [this](PortTable&, ModuleInstance) { return std::make_unique<LoggedWindows>(events); }};
  test::FakeHost host;
  MainWindowLogic logic{table, host};
  test::FakeServiceSystem services;
  ServiceSteps steps{services};
};

Events Expected(int lastPort) {
  Events expected;
  for (int kind = lastPort; kind >= 0; --kind) expected.push_back("port " + std::to_string(kind) + " gone");
  expected.push_back("library down");
  expected.push_back("services");
  return expected;
}

TEST_F(MainWindowStepsTest, DestructionRunsOnceWithPortsBeforeServicesHoweverOftenItIsCalled) {
  RunConstructionSteps(logic, steps, nullptr, [] {});
  EXPECT_EQ(services.StateOf(L"ZemakTovel"), ServiceStopped);
  RunDestructionSteps(logic, steps);
  RunDestructionSteps(logic, steps);  // a session end after a close, or the reverse
  EXPECT_EQ(Ending(), Expected(PortKindCount - 1));
  EXPECT_EQ(table.CreateCount(), 0);
  EXPECT_EQ(table.Windows(), nullptr);
  EXPECT_EQ(services.Requests(), (Events{"Stop ZemakTovel", "Start ZemakTovel"}));
  EXPECT_EQ(services.StateOf(L"ZemakTovel"), ServiceRunning);
}

TEST_F(MainWindowStepsTest, AStepThatThrowsStillEndsWithPortsDestroyedThenServicesStarted) {
  struct Case {
    int throwAtKind;  // the port factory throws for this kind
    bool listThrows;  // the USB listing throws
    int lastCreated;
  };
  for (const Case& c : {Case{3, false, 2}, Case{-1, true, PortKindCount - 1}}) {
    events.clear();
    throwAtKind = c.throwAtKind;
    lastCreated = c.lastCreated;
    test::FakeServiceSystem fresh;
    AddLoggedService(fresh);
    ServiceSteps once(fresh);
    MainWindowLogic window(table, host);
    EXPECT_THROW(RunConstructionSteps(window, once, nullptr,
                                      [&] {
                                        if (c.listThrows) throw std::runtime_error("no list");
                                      }),
                 std::runtime_error);
    EXPECT_EQ(Ending(), Expected(c.lastCreated)) << c.throwAtKind;
    EXPECT_EQ(fresh.StateOf(L"ZemakTovel"), ServiceRunning);
    EXPECT_EQ(table.CreateCount(), 0);
    // The table is usable again: the library came down, so it comes up.
    throwAtKind = -1;
    RunConstructionSteps(window, once, nullptr, [] {});
    EXPECT_NE(table.Windows(), nullptr);
    RunDestructionSteps(window, once);
  }
}

}  // namespace
}  // namespace qx
