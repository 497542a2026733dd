// Single services against Wine's real Service Control Manager, with a test service of
// our own. (Wine's manager lists no dependents, so trees are tested with the fake.)

#include <gtest/gtest.h>

#include <chrono>

#include "services/service_control.h"
#include "services/service_state.h"
#include "support/wine_service_support.h"

namespace qx {
namespace {

using test::RawState;
using test::RealManagerFakeClock;
using test::TestService;
using test::WaitForRawState;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(WineServices, StopsAndStartsOneService) {
  TestService service("QxTestSvcStopStart", "");
  ASSERT_TRUE(service.Installed());
  ServiceSystem& system = SystemServices();
  ASSERT_EQ(RawState(service.Name()), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(ChangeServiceState(system, ServiceModeStop, service.Name()), 1);  // already
  EXPECT_EQ(ChangeServiceState(system, ServiceModeStart, service.Name()), 1);
  EXPECT_EQ(RawState(service.Name()), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(ChangeServiceState(system, ServiceModeStart, service.Name()), 1);  // already
  EXPECT_EQ(ChangeServiceState(system, 2, service.Name()), 0);
  EXPECT_EQ(RawState(service.Name()), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(ChangeServiceState(system, ServiceModeStop, service.Name()), 1);
  EXPECT_EQ(RawState(service.Name()), static_cast<DWORD>(SERVICE_STOPPED));
  // Key names compare without regard to case in the manager too.
  EXPECT_EQ(ChangeServiceState(system, ServiceModeStart, "qxtestsvcstopstart"), 1);
  EXPECT_EQ(ChangeServiceState(system, ServiceModeStop, "QXTESTSVCSTOPSTART"), 1);
  EXPECT_EQ(ChangeServiceState(system, ServiceModeStop, "QxTestSvcNotInstalled"), 0);
  EXPECT_EQ(ChangeServiceState(system, ServiceModeStart, "QxTestSvcNotInstalled"), 0);
}

TEST(WineServices, ALingerInStopPending) {
  TestService service("QxTestSvcLinger", "linger=1500");
  ASSERT_TRUE(service.Installed());
  ServiceSystem& system = SystemServices();
  ASSERT_EQ(ChangeServiceState(system, ServiceModeStart, service.Name()), 1);

  // With the limit passed at once (fake time) the stop gives 0 and leaves the service
  // stop-pending; found pending, a second call sends nothing and gives 0 at once.
  RealManagerFakeClock fakeTime;
  EXPECT_EQ(ChangeServiceState(fakeTime, ServiceModeStop, service.Name()), 0);
  EXPECT_GT(fakeTime.NowMs() - 5'000'000, 20000);
  EXPECT_EQ(RawState(service.Name()), static_cast<DWORD>(SERVICE_STOP_PENDING));
  EXPECT_EQ(ChangeServiceState(system, ServiceModeStop, service.Name()), 0);
  EXPECT_EQ(ChangeServiceState(system, ServiceModeStart, service.Name()), 0);
  ASSERT_TRUE(WaitForRawState(service.Name(), SERVICE_STOPPED, 10000));

  // In real time the stop waits through the linger and gives 1.
  ASSERT_EQ(ChangeServiceState(system, ServiceModeStart, service.Name()), 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ChangeServiceState(system, ServiceModeStop, service.Name()), 1);
  EXPECT_GE(SecondsSince(start), 1.4);
  EXPECT_EQ(RawState(service.Name()), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST(WineServices, ATreeOfOneServiceStopsAndStarts) {
  TestService service("QxTestSvcTree", "linger=300");
  ASSERT_TRUE(service.Installed());
  ServiceSystem& system = SystemServices();
  CServiceControl node(system, service.WideName());
  EXPECT_TRUE(node.Dependents().empty());
  EXPECT_EQ(node.StopTree(), 0);  // already stopped
  EXPECT_EQ(node.StartTree(), 0);
  EXPECT_EQ(RawState(service.Name()), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(node.StartTree(), 0);  // already running
  EXPECT_EQ(node.StopTree(), 0);
  EXPECT_EQ(RawState(service.Name()), static_cast<DWORD>(SERVICE_STOPPED));

  ServiceStatus status;
  EXPECT_EQ(node.ServiceRequest(L"QxTestSvcNotInstalled", ServiceRequestQuery, &status),
            static_cast<int>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(node.ServiceRequest(service.WideName(), ServiceRequestStop, nullptr),
            static_cast<int>(ERROR_SERVICE_NOT_ACTIVE));
  EXPECT_EQ(node.ServiceRequest(service.WideName(), ServiceRequestQuery, &status), 0);
  EXPECT_EQ(status.CurrentState, ServiceStopped);
}

TEST(WineServices, TheTreesWaitIsBoundedAgainstTheRealManager) {
  TestService service("QxTestSvcBound", "linger=2000");
  ASSERT_TRUE(service.Installed());
  ASSERT_EQ(ChangeServiceState(SystemServices(), ServiceModeStart, service.Name()), 1);
  RealManagerFakeClock fakeTime;
  fakeTime.StepPerQueryMs = 10000;  // a dozen real queries reach the bound, well inside the linger
  CServiceControl node(fakeTime, service.WideName());
  EXPECT_EQ(node.StopTree(), static_cast<int>(ErrorTimeout));
  EXPECT_EQ(RawState(service.Name()), static_cast<DWORD>(SERVICE_STOP_PENDING));
  EXPECT_TRUE(WaitForRawState(service.Name(), SERVICE_STOPPED, 10000));
}

TEST(WineServices, AFailedStartReportsTheServicesOwnCode) {
  TestService service("QxTestSvcFailStart", "fail-start=4242");
  ASSERT_TRUE(service.Installed());
  ServiceSystem& system = SystemServices();
  CServiceControl node(system, service.WideName());
  EXPECT_EQ(node.StartTree(), 4242);
  EXPECT_TRUE(WaitForRawState(service.Name(), SERVICE_STOPPED, 10000));
}

// Wine's manager shows the fall-back as the fake does: the wait ends at once.
TEST(WineServices, AStartThatFallsBackToStoppedEndsTheTreesWaitAtOnce) {
  TestService service("QxTestSvcQuitStart", "quit-start");
  ASSERT_TRUE(service.Installed());
  CServiceControl node(SystemServices(), service.WideName());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(node.StartTree(), static_cast<int>(ErrorServiceNotActive));
  EXPECT_LT(SecondsSince(start), 10.0);  // not the 120 s bound
  EXPECT_EQ(RawState(service.Name()), static_cast<DWORD>(SERVICE_STOPPED));
}

}  // namespace
}  // namespace qx
