#include "services/service_state.h"

#include <gtest/gtest.h>

#include "support/fake_service_system.h"

namespace qx {
namespace {

using test::FakeService;
using test::FakeServiceSystem;
using Lines = std::vector<std::string>;

class ChangeServiceStateTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(fake.OpenHandles(), 0) << "a handle was left open"; }

  // Half-second polls slept since the last Mark().
  int Sleeps() const { return static_cast<int>((fake.NowMs() - mark_) / 500); }
  void Mark() { mark_ = fake.NowMs(); }

  FakeServiceSystem fake;
  std::int64_t mark_ = fake.NowMs();
};

TEST_F(ChangeServiceStateTest, AlreadyInTheRequestedStateGivesOneWithoutARequest) {
  fake.Add(L"ZemakTovel", ServiceStopped);
  fake.Add(L"ZemakPOSPort", ServiceRunning);
  EXPECT_EQ(ChangeServiceState(fake, ServiceModeStop, "ZemakTovel"), 1);
  EXPECT_EQ(ChangeServiceState(fake, ServiceModeStart, "ZemakPOSPort"), 1);
  EXPECT_TRUE(fake.Requests().empty());
  // The manager and the service are opened with the documented rights, the ANSI way,
  // and closed service first.
  EXPECT_EQ(fake.Log(), (Lines{"OpenSCManager 0x20000000", "OpenServiceA ZemakTovel 0x34",
                               "Query ZemakTovel", "Close ZemakTovel", "Close manager",
                               "OpenSCManager 0x20000000", "OpenServiceA ZemakPOSPort 0x34",
                               "Query ZemakPOSPort", "Close ZemakPOSPort", "Close manager"}));
}

TEST_F(ChangeServiceStateTest, StopsAndStartsWaitingInHalfSecondSteps) {
  fake.Add(L"ZemakTovel", ServiceRunning).StopTakesMs = 1200;
  EXPECT_EQ(ChangeServiceState(fake, ServiceModeStop, "ZemakTovel"), 1);
  EXPECT_EQ(fake.StateOf(L"ZemakTovel"), ServiceStopped);
  EXPECT_EQ(fake.Requests(), Lines{"Stop ZemakTovel"});
  EXPECT_EQ(Sleeps(), 3);  // queries at 0, 0.5, 1.0 s pending; 1.5 s stopped

  fake.ClearLog();
  Mark();
  fake.Service(L"ZemakTovel").StartTakesMs = 0;
  EXPECT_EQ(ChangeServiceState(fake, ServiceModeStart, "ZemakTovel"), 1);
  EXPECT_EQ(fake.StateOf(L"ZemakTovel"), ServiceRunning);
  EXPECT_EQ(fake.Requests(), Lines{"Start ZemakTovel"});
  EXPECT_EQ(Sleeps(), 0);
}

// The limit counts whole seconds of the clock: more than 20 of them must have passed,
// so the wait lasts 20.5 to 21 s depending on where in its second it began.
TEST(ChangeServiceStateLimit, StuckPendingGivesZeroAfterTwentyWholeSeconds) {
  for (const bool stop : {true, false}) {
    for (std::int64_t start : {1'000'000, 1'000'700}) {
      SCOPED_TRACE(std::string(stop ? "stop" : "start") + " at " + std::to_string(start));
      FakeServiceSystem fake(start);
      FakeService& service = fake.Add(L"ZemakTovel", stop ? ServiceRunning : ServiceStopped);
      service.StopTakesMs = service.StartTakesMs = -1;
      EXPECT_EQ(ChangeServiceState(fake, stop ? ServiceModeStop : ServiceModeStart, "ZemakTovel"), 0);
      EXPECT_EQ(fake.StateOf(L"ZemakTovel"), stop ? ServiceStopPending : ServiceStartPending);  // left as it is
      EXPECT_EQ(fake.Requests(), Lines{stop ? "Stop ZemakTovel" : "Start ZemakTovel"});
      EXPECT_EQ(fake.NowMs() - start, start % 1000 == 0 ? 21000 : 20500);
      EXPECT_EQ(fake.OpenHandles(), 0);
    }
  }
}

TEST_F(ChangeServiceStateTest, FallingBackToRunningGetsASecondStopWithTheSameStart) {
  FakeService& service = fake.Add(L"ZemakTovel", ServiceRunning);
  service.StopTakesMs = -1;
  const std::int64_t fallBackAt = fake.NowMs() + 15000;
  bool fellBack = false;
  service.OnQuery = [&](FakeService& s, std::int64_t now) {
    if (!fellBack && now >= fallBackAt) {
      fellBack = true;
      s.State = ServiceRunning;  // stays pending for ever after the next stop
    }
  };
  EXPECT_EQ(ChangeServiceState(fake, ServiceModeStop, "ZemakTovel"), 0);
  EXPECT_EQ(fake.Requests(), (Lines{"Stop ZemakTovel", "Stop ZemakTovel"}));
  // Still measured from the first request, not from the second one at 15 s.
  EXPECT_EQ(fake.NowMs() - 1'000'000, 21000);
}

// Back where it was while pending: a second request, which then succeeds.
TEST(ChangeServiceStateFallBack, FallingBackWhilePendingGetsASecondRequestAndGivesOne) {
  for (const bool stop : {true, false}) {
    SCOPED_TRACE(stop ? "stop" : "start");
    FakeServiceSystem fake;
    FakeService& service = fake.Add(L"ZemakTovel", stop ? ServiceRunning : ServiceStopped);
    service.StopTakesMs = service.StartTakesMs = -1;
    int queries = 0;
    service.OnQuery = [&](FakeService& s, std::int64_t) {
      if (++queries == (stop ? 3 : 2)) {
        s.State = stop ? ServiceRunning : ServiceStopped;
        s.StopTakesMs = s.StartTakesMs = 500;
      }
    };
    EXPECT_EQ(ChangeServiceState(fake, stop ? ServiceModeStop : ServiceModeStart, "ZemakTovel"), 1);
    const std::string request = stop ? "Stop ZemakTovel" : "Start ZemakTovel";
    EXPECT_EQ(fake.Requests(), (Lines{request, request}));
    EXPECT_EQ(fake.StateOf(L"ZemakTovel"), stop ? ServiceStopped : ServiceRunning);
    EXPECT_EQ(fake.OpenHandles(), 0);
  }
}

TEST_F(ChangeServiceStateTest, PendingOrPausedFoundGivesZeroAtOnceWithoutARequest) {
  for (std::uint32_t state : {ServiceStartPending, ServiceStopPending, ServiceContinuePending,
                              ServicePausePending, ServicePaused}) {
    fake.Add(L"ZemakTovel", state).PendingUntil = -1;
    for (int mode : {ServiceModeStop, ServiceModeStart}) {
      EXPECT_EQ(ChangeServiceState(fake, mode, "ZemakTovel"), 0) << state << " " << mode;
    }
  }
  EXPECT_TRUE(fake.Requests().empty());
  EXPECT_EQ(Sleeps(), 0);
}

TEST_F(ChangeServiceStateTest, OtherModesGiveZeroWithoutOpeningTheManager) {
  fake.Add(L"ZemakTovel", ServiceRunning);
  for (int mode : {2, -1, 3}) EXPECT_EQ(ChangeServiceState(fake, mode, "ZemakTovel"), 0);
  EXPECT_TRUE(fake.Log().empty());
}

TEST_F(ChangeServiceStateTest, FailuresGiveZeroAndChangeNothing) {
  // Not installed.
  EXPECT_EQ(ChangeServiceState(fake, ServiceModeStop, "ZemakTovel"), 0);
  EXPECT_EQ(ChangeServiceState(fake, ServiceModeStart, "ZemakTovel"), 0);
  // No manager.
  fake.Add(L"ZemakTovel", ServiceRunning);
  fake.ManagerFails = true;
  EXPECT_EQ(ChangeServiceState(fake, ServiceModeStop, "ZemakTovel"), 0);
  fake.ManagerFails = false;
  // No rights on the service, a failing query, a refused stop.
  FakeService& service = fake.Service(L"ZemakTovel");
  for (std::uint32_t FakeService::*error : {&FakeService::OpenError, &FakeService::QueryError, &FakeService::StopError}) {
    service.*error = ErrorAccessDenied;
    EXPECT_EQ(ChangeServiceState(fake, ServiceModeStop, "ZemakTovel"), 0);
    service.*error = 0;
  }
  EXPECT_EQ(fake.StateOf(L"ZemakTovel"), ServiceRunning);
  // A refused start.
  fake.Add(L"ZemakPOSPort", ServiceStopped).StartError = 1058;  // ERROR_SERVICE_DISABLED
  EXPECT_EQ(ChangeServiceState(fake, ServiceModeStart, "ZemakPOSPort"), 0);
  EXPECT_EQ(fake.StateOf(L"ZemakPOSPort"), ServiceStopped);
  EXPECT_EQ(Sleeps(), 0);
}

TEST_F(ChangeServiceStateTest, FailingQueryOrOddStateDuringTheWaitGivesZero) {
  FakeService& service = fake.Add(L"ZemakTovel", ServiceRunning);
  service.StopTakesMs = -1;
  int queries = 0;
  service.OnQuery = [&](FakeService& s, std::int64_t) {
    if (++queries == 3) s.State = ServicePaused;
  };
  EXPECT_EQ(ChangeServiceState(fake, ServiceModeStop, "ZemakTovel"), 0);
  EXPECT_EQ(Sleeps(), 1);

  fake.Add(L"ZemakPOSPort", ServiceRunning).StopTakesMs = -1;
  fake.Service(L"ZemakPOSPort").OnQuery = [&](FakeService& s, std::int64_t) {
    s.QueryError = 1115;  // every later query fails
  };
  EXPECT_EQ(ChangeServiceState(fake, ServiceModeStop, "ZemakPOSPort"), 0);
}

TEST(VendorServiceSet, OrdersOfStopAndStart) {
  std::vector<std::string> stop;
  for (int index : VendorStopOrder) stop.push_back(VendorServices[index]);
  EXPECT_EQ(stop, (Lines{"ZEMAK_DVN_AGENT_SERVICE", "ZEMAK_KTPOS_AGENT_SERVICE", "ZemakPOSPort",
                         "ZemakTovel", "ZEMAK_Port_Communication_Service",
                         "ZEMAK_Port_Communication_Service_QXS",
                         "ZEMAK_Port_Communication_Service_QXC"}));
  std::vector<std::string> start;
  for (int index : VendorStartOrder) start.push_back(VendorServices[index]);
  EXPECT_EQ(start, (Lines{"ZEMAK_Port_Communication_Service_QXC",
                          "ZEMAK_Port_Communication_Service_QXS",
                          "ZEMAK_Port_Communication_Service", "ZemakPOSPort", "ZemakTovel",
                          "ZEMAK_DVN_AGENT_SERVICE", "ZEMAK_KTPOS_AGENT_SERVICE"}));
}

}  // namespace
}  // namespace qx
