#include "services/service_steps.h"

#include <gtest/gtest.h>

#include "support/fake_service_system.h"

namespace qx {
namespace {

using test::FakeServiceSystem;
using Lines = std::vector<std::string>;

// Lines that name the vendor services in `order` (the orders themselves are checked by
// name with the service set), between a prefix and a suffix.
Lines Vendor(const std::string& prefix, const auto& order, const std::string& suffix = "") {
  Lines lines;
  for (int index : order) lines.push_back(prefix + VendorServices[index] + suffix);
  return lines;
}
Lines operator+(Lines a, const Lines& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A machine with the spooler (one active dependent, one inactive) and all seven
// vendor services installed and running.
class ServiceStepsTest : public ::testing::Test {
 protected:
  ServiceStepsTest() {
    fake.Add(L"Spooler", ServiceRunning).Dependents = {L"Fax", L"PrintNotify"};
    fake.Service(L"Spooler").StopTakesMs = 500;
    fake.Add(L"Fax", ServiceRunning).StopTakesMs = 200;
    fake.Add(L"PrintNotify", ServiceStopped);
    fake.Processes = {{L"spoolsv.exe", fake.NowMs() + 2000}};
    for (const char* name : VendorServices) {
      fake.Add(std::wstring(name, name + std::char_traits<char>::length(name)), ServiceRunning)
          .StopTakesMs = 700;
    }
  }
  void TearDown() override { EXPECT_EQ(fake.OpenHandles(), 0) << "a handle was left open"; }

  // Which services were opened (and how), and what was asked of them, in order.
  Lines Opens() const { return fake.LogOf({"OpenServiceA", "OpenServiceW"}); }

  FakeServiceSystem fake;
};

TEST_F(ServiceStepsTest, AtStartTheSpoolerTreeStopsFirstThenServicesOneToSeven) {
  ServiceSteps steps(fake);
  steps.StopServicesAtStart();
  EXPECT_EQ(fake.Requests(), (Lines{"Stop Fax", "Stop Spooler"} + Vendor("Stop ", VendorStopOrder)));
  EXPECT_EQ(Opens(),
            (Lines{// the tree, built once
                   "OpenServiceW Spooler 0x8", "OpenServiceW Fax 0x8",
                   // StopTree: Fax queried, stopped, polled until stopped
                   "OpenServiceW Fax 0x34", "OpenServiceW Fax 0x34", "OpenServiceW Fax 0x34",
                   "OpenServiceW Fax 0x34", "OpenServiceW Fax 0x34",
                   // then the spooler: queried and stopped, then its process watched
                   "OpenServiceW Spooler 0x34", "OpenServiceW Spooler 0x34"} +
             // the vendor services, one ChangeServiceState each
             Vendor("OpenServiceA ", VendorStopOrder, " 0x34")));
  // The spooler's process was gone at the second check, before any vendor service.
  EXPECT_EQ(fake.LogOf({"Processes"}).size(), 2u);
  const Lines& log = fake.Log();
  const auto lastCheck = std::find(log.rbegin(), log.rend(), "Processes");
  const auto firstVendor = std::find(log.begin(), log.end(), "Stop ZEMAK_DVN_AGENT_SERVICE");
  EXPECT_LT(log.rend() - lastCheck - 1, firstVendor - log.begin());
  for (const char* name : VendorServices) {
    EXPECT_EQ(fake.StateOf(std::wstring(name, name + std::char_traits<char>::length(name))),
              ServiceStopped);
  }
  ASSERT_NE(steps.SpoolerTree(), nullptr);
  EXPECT_EQ(steps.SpoolerTree()->Dependents().size(), 1u);

  // Once only.
  fake.ClearLog();
  steps.StopServicesAtStart();
  EXPECT_TRUE(fake.Log().empty());
  steps.StartServicesAtExit();
}

TEST_F(ServiceStepsTest, AtExitServicesSevenToOneInTheirOrderThenTheSpoolerTree) {
  ServiceSteps steps(fake);
  steps.StopServicesAtStart();
  fake.Service(L"Spooler").State = ServiceStopped;  // the process has gone: so has the service
  fake.ClearLog();
  steps.StartServicesAtExit();
  EXPECT_EQ(fake.Requests(), (Vendor("Start ", VendorStartOrder) + Lines{"Start Spooler", "Start Fax"}));
  EXPECT_EQ(fake.StateOf(L"Spooler"), ServiceRunning);
  EXPECT_EQ(fake.StateOf(L"Fax"), ServiceRunning);
  EXPECT_EQ(fake.StateOf(L"PrintNotify"), ServiceStopped);  // was not running at start
  EXPECT_EQ(steps.SpoolerTree(), nullptr);                  // released
  EXPECT_TRUE(fake.LogOf({"Enum"}).empty());                // not rebuilt

  fake.ClearLog();
  steps.StartServicesAtExit();
  EXPECT_TRUE(fake.Log().empty());
}

TEST_F(ServiceStepsTest, MissingAndHungServicesAreSkippedAndTheNextOneIsHandled) {
  FakeServiceSystem sparse;
  sparse.Add(L"ZemakPOSPort", ServiceRunning).StopTakesMs = -1;  // hangs in stop-pending
  sparse.Add(L"ZemakTovel", ServiceRunning);
  ServiceSteps steps(sparse);
  const std::int64_t begin = sparse.NowMs();
  steps.StopServicesAtStart();
  EXPECT_EQ(sparse.Requests(), (Lines{"Stop ZemakPOSPort", "Stop ZemakTovel"}));
  EXPECT_EQ(sparse.StateOf(L"ZemakTovel"), ServiceStopped);
  EXPECT_LE(sparse.NowMs() - begin, 21000 + 500);  // one 20 s limit, nothing else waited
  EXPECT_EQ(steps.SpoolerTree()->Dependents().size(), 0u);  // no spooler at all

  sparse.ClearLog();
  steps.StartServicesAtExit();
  // ZemakPOSPort is still stop-pending: 0 at once, no request.
  EXPECT_EQ(sparse.Requests(), Lines{"Start ZemakTovel"});
  EXPECT_EQ(sparse.OpenHandles(), 0);
}

TEST_F(ServiceStepsTest, WithoutTheExitCallTheDestructorStartsEverythingAgain) {
  {
    ServiceSteps steps(fake);
    steps.StopServicesAtStart();
    fake.Service(L"Spooler").State = ServiceStopped;
    fake.ClearLog();
  }
  EXPECT_EQ(fake.Requests().size(), 9u);
  EXPECT_EQ(fake.StateOf(L"Spooler"), ServiceRunning);
  EXPECT_EQ(fake.StateOf(L"ZemakTovel"), ServiceRunning);

  // Never stopped: nothing happens at destruction.
  fake.ClearLog();
  { ServiceSteps untouched(fake); }
  EXPECT_TRUE(fake.Log().empty());
}

// qxmodel's rule: what was already stopped stays stopped, failures are named, and
// services that are not installed never are.
TEST_F(ServiceStepsTest, RestartWhatWasStoppedLeavesAloneWhatWasAlreadyStopped) {
  fake.Service(L"ZemakTovel").State = ServiceStopped;
  fake.Service(L"ZemakPOSPort").StopError = ErrorAccessDenied;
  fake.Service(L"ZEMAK_DVN_AGENT_SERVICE").StartError = 1058;  // disabled meanwhile
  ServiceSteps steps(fake, ExitRule::RestartWhatWasStopped);
  steps.StopServicesAtStart();
  EXPECT_EQ(steps.Stopped(),
            (Lines{"Fax", "Spooler", "ZEMAK_DVN_AGENT_SERVICE", "ZEMAK_KTPOS_AGENT_SERVICE",
                   "ZEMAK_Port_Communication_Service", "ZEMAK_Port_Communication_Service_QXS",
                   "ZEMAK_Port_Communication_Service_QXC"}));
  fake.Service(L"Spooler").State = ServiceStopped;
  fake.ClearLog();
  steps.StartServicesAtExit();
  EXPECT_EQ(fake.Requests(),
            (Lines{"Start ZEMAK_Port_Communication_Service_QXC",
                   "Start ZEMAK_Port_Communication_Service_QXS",
                   "Start ZEMAK_Port_Communication_Service", "Start ZEMAK_DVN_AGENT_SERVICE",
                   "Start ZEMAK_KTPOS_AGENT_SERVICE", "Start Spooler", "Start Fax"}));
  EXPECT_EQ(fake.StateOf(L"ZemakTovel"), ServiceStopped);
  Lines problems;
  for (const ServiceProblem& p : steps.Problems()) {
    problems.push_back(p.Service + (p.Stopping ? " stopping: " : " starting: ") + std::to_string(p.Code));
  }
  EXPECT_EQ(problems, (Lines{"ZemakPOSPort stopping: 5", "ZEMAK_DVN_AGENT_SERVICE starting: 1058"}));

  // A spooler found stopped is not started; nothing installed is nothing to say.
  FakeServiceSystem quiet;
  quiet.Add(L"Spooler", ServiceStopped);
  {
    ServiceSteps others(quiet, ExitRule::RestartWhatWasStopped);
    others.StopServicesAtStart();
    others.StartServicesAtExit();
    EXPECT_TRUE(others.Problems().empty());
    EXPECT_TRUE(others.Stopped().empty());
  }
  EXPECT_TRUE(quiet.Requests().empty());
}

TEST_F(ServiceStepsTest, ACancelledStartStopsNoFurtherServiceAndTheExitRestartsTheRest) {
  // Cancelled before it began: nothing is stopped at all.
  ServiceSteps late(fake, ExitRule::RestartWhatWasStopped);
  late.CancelStopping();
  late.StopServicesAtStart();
  EXPECT_TRUE(fake.Log().empty());

  ServiceSteps steps(fake, ExitRule::RestartWhatWasStopped);
  fake.Service(L"ZemakPOSPort").OnQuery = [&](test::FakeService&, std::int64_t) { steps.CancelStopping(); };
  steps.StopServicesAtStart();
  EXPECT_EQ(fake.StateOf(L"ZemakPOSPort"), ServiceStopped);  // the one under way finishes
  EXPECT_EQ(fake.StateOf(L"ZemakTovel"), ServiceRunning);
  fake.Service(L"Spooler").State = ServiceStopped;
  steps.StartServicesAtExit();
  for (const wchar_t* name : {L"Spooler", L"Fax", L"ZEMAK_DVN_AGENT_SERVICE", L"ZemakPOSPort"}) {
    EXPECT_EQ(fake.StateOf(name), ServiceRunning) << FakeServiceSystem::Narrow(name);
  }
}

TEST(ChangeServiceStateReported, SaysWhyItGaveZero) {
  FakeServiceSystem fake;
  fake.Add(L"Running", ServiceRunning);
  fake.Add(L"Pending", ServiceStopPending).PendingUntil = -1;
  fake.Add(L"Hung", ServiceRunning).StopTakesMs = -1;
  fake.Add(L"Locked", ServiceRunning).OpenError = ErrorAccessDenied;
  struct Case {
    const char* name;
    int result;
    bool installed;
    bool sent;
    int error;
  };
  for (const Case& c : {Case{"Running", 1, true, true, 0}, Case{"Missing", 0, false, false, 1060},
                        Case{"Pending", 0, true, false, 1061}, Case{"Hung", 0, true, true, 1053},
                        Case{"Locked", 0, true, false, 5}}) {
    const ServiceChange change = ChangeServiceStateReported(fake, ServiceModeStop, c.name);
    EXPECT_EQ(change.Result, c.result) << c.name;
    EXPECT_EQ(change.Installed, c.installed) << c.name;
    EXPECT_EQ(change.RequestSent, c.sent) << c.name;
    EXPECT_EQ(change.Error, c.error) << c.name;
  }
}

}  // namespace
}  // namespace qx
