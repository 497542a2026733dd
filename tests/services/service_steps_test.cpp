#include "services/service_steps.h"

#include <gtest/gtest.h>

#include "services/fake_service_system.h"

namespace qx {
namespace {

using test::FakeServiceSystem;
using Lines = std::vector<std::string>;

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
  EXPECT_EQ(fake.Requests(),
            (Lines{"Stop Fax", "Stop Spooler", "Stop ZEMAK_DVN_AGENT_SERVICE",
                   "Stop ZEMAK_KTPOS_AGENT_SERVICE", "Stop ZemakPOSPort", "Stop ZemakTovel",
                   "Stop ZEMAK_Port_Communication_Service",
                   "Stop ZEMAK_Port_Communication_Service_QXS",
                   "Stop ZEMAK_Port_Communication_Service_QXC"}));
  EXPECT_EQ(Opens(),
            (Lines{// the tree, built once
                   "OpenServiceW Spooler 0x8", "OpenServiceW Fax 0x8",
                   // StopTree: Fax queried, stopped, polled until stopped
                   "OpenServiceW Fax 0x34", "OpenServiceW Fax 0x34", "OpenServiceW Fax 0x34",
                   "OpenServiceW Fax 0x34", "OpenServiceW Fax 0x34",
                   // then the spooler: queried and stopped, then its process watched
                   "OpenServiceW Spooler 0x34", "OpenServiceW Spooler 0x34",
                   // the vendor services, one ChangeServiceState each
                   "OpenServiceA ZEMAK_DVN_AGENT_SERVICE 0x34",
                   "OpenServiceA ZEMAK_KTPOS_AGENT_SERVICE 0x34", "OpenServiceA ZemakPOSPort 0x34",
                   "OpenServiceA ZemakTovel 0x34",
                   "OpenServiceA ZEMAK_Port_Communication_Service 0x34",
                   "OpenServiceA ZEMAK_Port_Communication_Service_QXS 0x34",
                   "OpenServiceA ZEMAK_Port_Communication_Service_QXC 0x34"}));
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
  EXPECT_EQ(fake.Requests(),
            (Lines{"Start ZEMAK_Port_Communication_Service_QXC",
                   "Start ZEMAK_Port_Communication_Service_QXS",
                   "Start ZEMAK_Port_Communication_Service", "Start ZemakPOSPort",
                   "Start ZemakTovel", "Start ZEMAK_DVN_AGENT_SERVICE",
                   "Start ZEMAK_KTPOS_AGENT_SERVICE", "Start Spooler", "Start Fax"}));
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

}  // namespace
}  // namespace qx
