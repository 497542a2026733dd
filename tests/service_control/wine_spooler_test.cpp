// Wine's own print spooler against the real manager and process walk: the stop waits
// for "spoolsv.exe" to go. The spooler is left as it was found.

#include <gtest/gtest.h>

#include "services/service_control.h"
#include "services/service_state.h"
#include "services/service_steps.h"
#include "support/wine_service_support.h"

namespace qx {
namespace {

using test::RawState;

class WineSpooler : public ::testing::Test {
 protected:
  void SetUp() override {
    initial_ = RawState("Spooler");
    ASSERT_NE(initial_, 0u) << "this Wine has no Spooler service";
  }
  void TearDown() override {
    const int mode = initial_ == SERVICE_RUNNING ? ServiceModeStart : ServiceModeStop;
    ChangeServiceState(SystemServices(), mode, "Spooler");
  }
  DWORD initial_ = 0;
};

TEST_F(WineSpooler, StopWaitsForSpoolsvToGoAndStartBringsItBack) {
  ServiceSystem& system = SystemServices();
  ASSERT_EQ(ChangeServiceState(system, ServiceModeStart, "Spooler"), 1);
  CServiceControl tree(system, L"Spooler");
  EXPECT_TRUE(tree.Dependents().empty());  // Wine lists none
  EXPECT_EQ(tree.IsProcessRunning(L"spoolsv.exe"), 1);
  EXPECT_EQ(tree.IsProcessRunning(L"SPOOLSV.EXE"), 1);
  EXPECT_EQ(tree.IsProcessRunning(L"spoolsv.ex"), 0);

  EXPECT_EQ(tree.StopTree(), 0);
  EXPECT_EQ(tree.IsProcessRunning(L"spoolsv.exe"), 0);
  EXPECT_EQ(RawState("Spooler"), static_cast<DWORD>(SERVICE_STOPPED));

  EXPECT_EQ(tree.StartTree(), 0);
  EXPECT_EQ(RawState("Spooler"), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(tree.IsProcessRunning(L"spoolsv.exe"), 1);

  // Capitals take the spooler branch as well: after it, the process is gone.
  CServiceControl capitals(system, L"SPOOLER");
  EXPECT_EQ(capitals.StopTree(), 0);
  EXPECT_EQ(capitals.IsProcessRunning(L"spoolsv.exe"), 0);
}

TEST_F(WineSpooler, TheServiceStepsAtStartAndAtExit) {
  ServiceSystem& system = SystemServices();
  ASSERT_EQ(ChangeServiceState(system, ServiceModeStart, "Spooler"), 1);
  ServiceSteps steps(system);
  steps.StopServicesAtStart();  // the vendor services are not installed: skipped
  EXPECT_EQ(RawState("Spooler"), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(steps.SpoolerTree()->IsProcessRunning(L"spoolsv.exe"), 0);
  steps.StartServicesAtExit();
  EXPECT_EQ(RawState("Spooler"), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(steps.SpoolerTree(), nullptr);
}

}  // namespace
}  // namespace qx
