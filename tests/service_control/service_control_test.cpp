#include "services/service_control.h"

#include <gtest/gtest.h>

#include "support/fake_service_system.h"
#include "services/service_state.h"

namespace qx {
namespace {

using test::FakeProcess;
using test::FakeService;
using test::FakeServiceSystem;
using Lines = std::vector<std::string>;

std::vector<std::wstring> Names(const CServiceControl& node) {
  std::vector<std::wstring> names;
  for (const auto& child : node.Dependents()) names.push_back(child->ServiceName());
  return names;
}

class ServiceControlTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(fake.OpenHandles(), 0) << "a handle was left open"; }

  // A running service "Base" with dependents A and B (A has its own dependent A1)
  // and a stopped dependent C.
  void MakeTree() {
    fake.Add(L"Base", ServiceRunning).Dependents = {L"A", L"C", L"B"};
    fake.Add(L"A", ServiceRunning).Dependents = {L"A1"};
    fake.Add(L"A1", ServiceRunning);
    fake.Add(L"B", ServiceRunning);
    fake.Add(L"C", ServiceStopped);
  }

  FakeServiceSystem fake;
};

TEST_F(ServiceControlTest, BuildsTheTreeOfActiveDependentsOnceInTheManagersOrder) {
  MakeTree();
  CServiceControl tree(fake, L"Base");
  EXPECT_EQ(tree.ServiceName(), L"Base");
  EXPECT_EQ(Names(tree), (std::vector<std::wstring>{L"A", L"B"}));  // C was not active
  EXPECT_EQ(Names(*tree.Dependents()[0]), std::vector<std::wstring>{L"A1"});
  EXPECT_TRUE(tree.Dependents()[1]->Dependents().empty());
  EXPECT_EQ(fake.LogOf({"OpenServiceW", "Enum"}),
            (Lines{"OpenServiceW Base 0x8", "Enum Base", "OpenServiceW A 0x8", "Enum A",
                   "OpenServiceW A1 0x8", "Enum A1", "OpenServiceW B 0x8", "Enum B"}));
  // Built once: a dependent started later is not added, so it is not stopped, and the
  // manager then refuses to stop the service itself.
  fake.Service(L"C").State = ServiceRunning;
  fake.ClearLog();
  EXPECT_EQ(tree.StopTree(), 1051);  // ERROR_DEPENDENT_SERVICES_RUNNING
  EXPECT_EQ(fake.Requests(), (Lines{"Stop A1", "Stop A", "Stop B", "Stop Base"}));
  EXPECT_EQ(fake.StateOf(L"C"), ServiceRunning);
  EXPECT_TRUE(fake.LogOf({"Enum"}).empty());
}

TEST_F(ServiceControlTest, WithoutRightsToEnumerateTheNodeHasNoDependents) {
  MakeTree();
  fake.Service(L"Base").EnumerationFails = true;
  EXPECT_TRUE(CServiceControl(fake, L"Base").Dependents().empty());
  fake.Service(L"Base").EnumerationFails = false;
  fake.Service(L"Base").OpenError = ErrorAccessDenied;
  EXPECT_TRUE(CServiceControl(fake, L"Base").Dependents().empty());
  fake.ManagerFails = true;
  EXPECT_TRUE(CServiceControl(fake, L"Base").Dependents().empty());
  EXPECT_TRUE(CServiceControl(fake, L"NotInstalled").Dependents().empty());
}

TEST_F(ServiceControlTest, ACircleOfDependentsEndsTheTree) {
  fake.Add(L"Base", ServiceRunning).Dependents = {L"A"};
  fake.Add(L"A", ServiceRunning).Dependents = {L"BASE", L"B"};
  fake.Add(L"B", ServiceRunning).Dependents = {L"a"};
  CServiceControl tree(fake, L"Base");
  ASSERT_EQ(Names(tree), std::vector<std::wstring>{L"A"});
  ASSERT_EQ(Names(*tree.Dependents()[0]), std::vector<std::wstring>{L"B"});
  EXPECT_TRUE(tree.Dependents()[0]->Dependents()[0]->Dependents().empty());
}

TEST_F(ServiceControlTest, StopsDependentsDepthFirstAndStartsTheServiceFirst) {
  MakeTree();
  for (const wchar_t* name : {L"Base", L"A", L"A1", L"B"}) {
    fake.Service(name).StopTakesMs = 250;
    fake.Service(name).StartTakesMs = 250;
  }
  CServiceControl tree(fake, L"Base");
  fake.ClearLog();
  const std::int64_t begin = fake.NowMs();
  EXPECT_EQ(tree.StopTree(), 0);
  // The fake refuses to stop a service whose dependents still run, as the manager does.
  EXPECT_EQ(fake.Requests(), (Lines{"Stop A1", "Stop A", "Stop B", "Stop Base"}));
  for (const wchar_t* name : {L"Base", L"A", L"A1", L"B"}) EXPECT_EQ(fake.StateOf(name), ServiceStopped);
  // Polled every 100 ms: 250 ms pending means three sleeps per service.
  EXPECT_EQ(fake.NowMs() - begin, 4 * 300);
  EXPECT_EQ(fake.LogOf({"Query"}).size(), 4u * 5);  // before the request, then four polls
  EXPECT_TRUE(fake.LogOf({"Processes"}).empty());

  fake.ClearLog();
  EXPECT_EQ(tree.StartTree(), 0);
  EXPECT_EQ(fake.Requests(), (Lines{"Start Base", "Start A", "Start A1", "Start B"}));
  for (const wchar_t* name : {L"Base", L"A", L"A1", L"B"}) EXPECT_EQ(fake.StateOf(name), ServiceRunning);
  EXPECT_EQ(fake.StateOf(L"C"), ServiceStopped);  // never in the tree
  // Every request opens its own handles, with the documented rights.
  for (const std::string& line : fake.LogOf({"OpenServiceW"})) {
    EXPECT_EQ(line.substr(line.size() - 5), " 0x34") << line;
  }
}

TEST_F(ServiceControlTest, AlreadyStoppedOrRunningSendsNothingButDependentsAreStillWalked) {
  MakeTree();
  CServiceControl tree(fake, L"Base");
  fake.Service(L"A1").State = ServiceStopped;  // stopped by someone since the tree was built
  fake.Service(L"Base").State = ServiceRunning;
  fake.ClearLog();
  EXPECT_EQ(tree.StartTree(), 0);
  EXPECT_EQ(fake.Requests(), Lines{"Start A1"});

  EXPECT_EQ(tree.StopTree(), 0);
  fake.ClearLog();
  EXPECT_EQ(tree.StopTree(), 0);
  EXPECT_TRUE(fake.Requests().empty());
}

TEST_F(ServiceControlTest, ADependentThatCannotBeStoppedEndsTheWalkWithItsError) {
  MakeTree();
  CServiceControl tree(fake, L"Base");
  fake.Service(L"A").StopError = ErrorAccessDenied;
  fake.ClearLog();
  EXPECT_EQ(tree.StopTree(), static_cast<int>(ErrorAccessDenied));
  EXPECT_EQ(fake.Requests(), (Lines{"Stop A1", "Stop A"}));  // B and Base untouched
  EXPECT_EQ(fake.StateOf(L"Base"), ServiceRunning);
  EXPECT_EQ(fake.StateOf(L"B"), ServiceRunning);
  EXPECT_TRUE(fake.LogOf({"OpenServiceW B", "OpenServiceW Base"}).empty());

  // One that cannot even be opened any more (uninstalled meanwhile).
  fake.Service(L"A").StopError = 0;
  fake.Service(L"A1").OpenError = ErrorServiceDoesNotExist;
  EXPECT_EQ(tree.StopTree(), static_cast<int>(ErrorServiceDoesNotExist));
  EXPECT_EQ(fake.StateOf(L"A"), ServiceRunning);
}

TEST_F(ServiceControlTest, AServiceThatFailsToStartEndsTheWalk) {
  MakeTree();
  CServiceControl tree(fake, L"Base");
  ASSERT_EQ(tree.StopTree(), 0);
  fake.Service(L"A").StartError = 1058;  // ERROR_SERVICE_DISABLED
  fake.ClearLog();
  EXPECT_EQ(tree.StartTree(), 1058);
  EXPECT_EQ(fake.Requests(), (Lines{"Start Base", "Start A"}));
  EXPECT_EQ(fake.StateOf(L"B"), ServiceStopped);
}

TEST_F(ServiceControlTest, ExitCodesEndTheStopsWaitWithTheServicesOwnCodeBehind1066UnlessStopped) {
  struct Case {
    std::uint32_t win32;
    std::uint32_t specific;
    int expected;
  };
  for (const Case& c : {Case{1064, 9, 1064}, Case{1066, 42, 42}, Case{1066, 0, 1066}}) {
    FakeServiceSystem local;
    FakeService& service = local.Add(L"Svc", ServiceRunning);
    service.StopTakesMs = -1;
    service.OnQuery = [&](FakeService& s, std::int64_t) {
      if (s.State == ServiceStopPending) {
        s.Win32ExitCode = c.win32;
        s.SpecificExitCode = c.specific;
      }
    };
    CServiceControl node(local, L"Svc");
    EXPECT_EQ(node.StopTree(), c.expected) << c.win32 << "/" << c.specific;
    EXPECT_EQ(local.OpenHandles(), 0);
  }
  // Once stopped, an exit code does not count.
  FakeService& service = fake.Add(L"Svc", ServiceRunning);
  service.StopTakesMs = 100;
  service.OnQuery = [](FakeService& s, std::int64_t) { s.Win32ExitCode = s.State == ServiceStopped ? 1067 : 0; };
  CServiceControl node(fake, L"Svc");
  EXPECT_EQ(node.StopTree(), 0);
}

TEST_F(ServiceControlTest, AServiceThatStaysPendingEndsWithTimeoutAfterTheBound) {
  MakeTree();
  CServiceControl tree(fake, L"Base");
  fake.Service(L"A1").StopTakesMs = -1;
  const std::int64_t begin = fake.NowMs();
  EXPECT_EQ(tree.StopTree(), static_cast<int>(ErrorTimeout));
  const std::int64_t waited = fake.NowMs() - begin;
  EXPECT_GT(waited, ServiceTreeWaitLimitMs);
  EXPECT_LE(waited, ServiceTreeWaitLimitMs + ServiceTreePollMs);
  EXPECT_EQ(fake.StateOf(L"A"), ServiceRunning);  // the walk ended there

  fake.Service(L"A1").State = ServiceStopped;
  ASSERT_EQ(tree.StopTree(), 0);
  fake.Service(L"Base").StartTakesMs = -1;
  EXPECT_EQ(tree.StartTree(), static_cast<int>(ErrorTimeout));
  EXPECT_EQ(fake.StateOf(L"A"), ServiceStopped);
}

TEST_F(ServiceControlTest, AServiceThatVanishesWhileStoppingCountsAsStoppedButNotWhileStarting) {
  for (const bool start : {false, true}) {
    FakeService& service = fake.Add(start ? L"Starting" : L"Stopping", start ? ServiceStopped : ServiceRunning);
    service.StopTakesMs = service.StartTakesMs = -1;
    service.OnQuery = [](FakeService& s, std::int64_t) {
      if (s.State == ServiceStopPending || s.State == ServiceStartPending) s.OpenError = ErrorServiceDoesNotExist;
    };
    CServiceControl node(fake, service.Name);
    EXPECT_EQ(start ? node.StartTree() : node.StopTree(), start ? static_cast<int>(ErrorServiceDoesNotExist) : 0);
  }
}

// Falling back ends the wait at once instead of polling to the bound, with the service's
// own code when it gives one; a service still running right after its stop was accepted
// has not fallen back yet.
TEST_F(ServiceControlTest, AFallBackEndsTheWaitAtOnceWithAnError) {
  for (const std::uint32_t own : {7u, 0u}) {
    FakeService& starting = fake.Add(own != 0 ? L"Failing" : L"Starter", ServiceStopped);
    starting.StartTakesMs = -1;
    starting.OnQuery = [own](FakeService& s, std::int64_t) {
      if (s.State != ServiceStartPending) return;
      s.State = ServiceStopped;
      s.Win32ExitCode = own != 0 ? ErrorServiceSpecific : 0;
      s.SpecificExitCode = own;
    };
    CServiceControl starter(fake, starting.Name);
    const std::int64_t begin = fake.NowMs();
    EXPECT_EQ(starter.StartTree(), own != 0 ? static_cast<int>(own) : static_cast<int>(ErrorServiceNotActive));
    EXPECT_EQ(fake.NowMs(), begin);
  }

  FakeService& stopping = fake.Add(L"Stopper", ServiceRunning);
  stopping.StopTakesMs = -1;
  int queries = 0;
  stopping.OnQuery = [&](FakeService& s, std::int64_t) {
    if (++queries == 3) s.State = ServiceRunning;  // seen stop-pending once, then back
  };
  CServiceControl stopper(fake, L"Stopper");
  const std::int64_t begin = fake.NowMs();
  EXPECT_EQ(stopper.StopTree(), static_cast<int>(ErrorServiceAlreadyRunning));
  EXPECT_EQ(fake.NowMs() - begin, ServiceTreePollMs);

  FakeService& slow = fake.Add(L"Slow", ServiceRunning);
  slow.StopTakesMs = -1;
  queries = 0;
  slow.OnQuery = [&](FakeService& s, std::int64_t) {
    if (++queries == 2) s.State = ServiceRunning;  // not yet reported stop-pending
    if (queries == 3) s.State = ServiceStopped;
  };
  CServiceControl late(fake, L"Slow");
  EXPECT_EQ(late.StopTree(), 0);
}

TEST_F(ServiceControlTest, AFailedCallWhoseLastErrorReadsZeroGives31) {
  fake.Add(L"Svc", ServiceStopped).StartError = 1058;
  fake.LosesLastError = true;
  CServiceControl node(fake, L"Svc");
  ServiceStatus status;
  EXPECT_EQ(node.ServiceRequest(L"Svc", ServiceRequestStart, nullptr), 31);
  EXPECT_EQ(node.ServiceRequest(L"Missing", ServiceRequestQuery, &status), 31);
  EXPECT_EQ(node.StartTree(), 31);
  EXPECT_EQ(ChangeServiceStateReported(fake, ServiceModeStart, "Svc").Error, 31);
}

TEST_F(ServiceControlTest, RestartStoppedStartsOnlyWhatTheStopStoppedAndTriesEveryOne) {
  MakeTree();
  CServiceControl tree(fake, L"Base");
  fake.Service(L"B").State = ServiceStopped;  // stopped by someone else before the walk
  ASSERT_EQ(tree.StopTree(), 0);
  fake.Service(L"A").StartError = ErrorAccessDenied;
  fake.ClearLog();
  std::vector<CServiceControl::Failure> failures;
  EXPECT_EQ(tree.RestartStopped(failures), static_cast<int>(ErrorAccessDenied));
  EXPECT_EQ(fake.Requests(), (Lines{"Start Base", "Start A", "Start A1"}));
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].Service, L"A");
  EXPECT_EQ(failures[0].Code, static_cast<int>(ErrorAccessDenied));
  EXPECT_FALSE(tree.StoppedHere());
  // A second restart tries only what is still down.
  fake.Service(L"A").StartError = 0;
  fake.ClearLog();
  failures.clear();
  EXPECT_EQ(tree.RestartStopped(failures), 0);
  EXPECT_EQ(fake.Requests(), Lines{"Start A"});
}

TEST_F(ServiceControlTest, ServiceRequestOpensItsOwnHandlesAndReturnsTheFirstError) {
  fake.Add(L"Svc", ServiceRunning);
  CServiceControl node(fake, L"Svc");
  fake.ClearLog();
  ServiceStatus status;
  EXPECT_EQ(node.ServiceRequest(L"svc", ServiceRequestQuery, &status), 0);
  EXPECT_EQ(status.CurrentState, ServiceRunning);
  EXPECT_EQ(fake.Log(), (Lines{"OpenSCManager 0x20000000", "OpenServiceW svc 0x34", "Query svc",
                               "Close svc", "Close manager"}));
  // A query without a record queries nothing.
  fake.ClearLog();
  EXPECT_EQ(node.ServiceRequest(L"Svc", ServiceRequestQuery, nullptr), 0);
  EXPECT_TRUE(fake.LogOf({"Query"}).empty());
  // The error is the one of the failing call, although closing clears the thread's code.
  EXPECT_EQ(node.ServiceRequest(L"Missing", ServiceRequestQuery, &status),
            static_cast<int>(ErrorServiceDoesNotExist));
  EXPECT_EQ(node.ServiceRequest(L"Svc", ServiceRequestStart, nullptr), 1056);
  fake.ManagerFails = true;
  EXPECT_EQ(node.ServiceRequest(L"Svc", ServiceRequestStop, nullptr),
            static_cast<int>(ErrorAccessDenied));
  fake.ManagerFails = false;
  EXPECT_EQ(node.ServiceRequest(L"Svc", ServiceRequestStop, &status), 0);
  EXPECT_EQ(status.CurrentState, ServiceStopPending);
  // An unknown operation touches nothing.
  fake.ClearLog();
  EXPECT_EQ(node.ServiceRequest(L"Svc", 3, &status), 87);
  EXPECT_TRUE(fake.Log().empty());
}

class SpoolerTest : public ServiceControlTest {
 protected:
  // A running spooler whose process ends this long after now (negative: never).
  static void MakeSpooler(FakeServiceSystem& system, std::int64_t processEndsAfterMs) {
    system.Add(L"Spooler", ServiceRunning).StopTakesMs = -1;  // the state is not what it waits for
    system.Processes = {{L"explorer.exe", -1},
                        {L"spoolsv.exe", processEndsAfterMs < 0 ? -1 : system.NowMs() + processEndsAfterMs}};
  }
};

// The stop checks the process every 3 s, for 60 s at most, and polls no state.
TEST_F(SpoolerTest, StopWaitsForTheSpoolerProcessInThreeSecondStepsUpToSixty) {
  const struct {
    std::int64_t processEndsAfterMs;
    int result;
    std::int64_t lastCheckSecond;
  } cases[] = {{7000, 0, 9}, {59999, 0, 60}, {-1, static_cast<int>(ErrorTimeout), 60}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.processEndsAfterMs);
    FakeServiceSystem local;
    MakeSpooler(local, c.processEndsAfterMs);
    CServiceControl tree(local, L"Spooler");
    EXPECT_TRUE(tree.Dependents().empty());
    const std::int64_t begin = local.NowMs();
    EXPECT_EQ(tree.StopTree(), c.result);
    std::vector<std::int64_t> expected, seconds;
    for (std::int64_t s = 0; s <= c.lastCheckSecond; s += 3) expected.push_back(s);
    for (std::int64_t t : local.SnapshotTimes()) seconds.push_back((t - begin) / 1000);
    EXPECT_EQ(seconds, expected);
    EXPECT_EQ(local.NowMs() - begin, c.lastCheckSecond * 1000);
    EXPECT_EQ(local.LogOf({"Query"}).size(), 1u);  // only before the request
    EXPECT_EQ(local.OpenHandles(), 0);
  }
}

TEST_F(SpoolerTest, NamesCompareWithoutRegardToCase) {
  fake.Add(L"Spooler", ServiceRunning).StopTakesMs = -1;
  fake.Processes = {{L"SpoolSV.EXE", fake.NowMs() + 4000}};
  CServiceControl tree(fake, L"SPOOLER");
  EXPECT_EQ(tree.StopTree(), 0);
  EXPECT_EQ(fake.SnapshotTimes().size(), 3u);  // 0, 3 s running; 6 s gone
  EXPECT_EQ(fake.Requests(), Lines{"Stop SPOOLER"});
  EXPECT_EQ(tree.IsProcessRunning(L"EXPLORER.exe"), 0);
  fake.Processes.push_back({L"Explorer.EXE", -1});
  EXPECT_EQ(tree.IsProcessRunning(L"explorer.exe"), 1);
  EXPECT_EQ(tree.IsProcessRunning(L"explorer.ex"), 0);
  fake.SnapshotFails = true;
  EXPECT_EQ(tree.IsProcessRunning(L"explorer.exe"), 0);
}

TEST_F(SpoolerTest, DependentsStopFirstAndAFailureLeavesTheSpoolerAlone) {
  MakeSpooler(fake, 0);
  fake.Service(L"Spooler").Dependents = {L"Fax", L"PrintNotify"};
  fake.Add(L"Fax", ServiceRunning).StopTakesMs = 100;
  fake.Add(L"PrintNotify", ServiceRunning).StopError = ErrorAccessDenied;
  CServiceControl tree(fake, L"Spooler");
  EXPECT_EQ(tree.StopTree(), static_cast<int>(ErrorAccessDenied));
  EXPECT_EQ(fake.Requests(), (Lines{"Stop Fax", "Stop PrintNotify"}));
  EXPECT_EQ(fake.StateOf(L"Spooler"), ServiceRunning);
  EXPECT_TRUE(fake.LogOf({"Processes"}).empty());

  fake.Service(L"PrintNotify").StopError = 0;
  fake.ClearLog();
  EXPECT_EQ(tree.StopTree(), 0);
  EXPECT_EQ(fake.Requests(), (Lines{"Stop PrintNotify", "Stop Spooler"}));
  fake.Service(L"Spooler").State = ServiceStopped;  // the fake spooler never finishes by itself
  fake.ClearLog();
  EXPECT_EQ(tree.StartTree(), 0);
  EXPECT_EQ(fake.Requests(), (Lines{"Start Spooler", "Start Fax", "Start PrintNotify"}));
}

TEST_F(SpoolerTest, AStoppedSpoolerIsNotWaitedFor) {
  fake.Add(L"Spooler", ServiceStopped);
  fake.Processes = {{L"spoolsv.exe", -1}};  // whoever runs it, the stop is not ours
  CServiceControl tree(fake, L"Spooler");
  const std::int64_t begin = fake.NowMs();
  EXPECT_EQ(tree.StopTree(), 0);
  EXPECT_TRUE(fake.Requests().empty());
  EXPECT_TRUE(fake.LogOf({"Processes"}).empty());
  EXPECT_EQ(fake.NowMs(), begin);
}

}  // namespace
}  // namespace qx
