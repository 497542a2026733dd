// Get, Set and Print Test through the main window's logic and the port table over the
// network kind, against the simulated printer on loopback.

#include <gtest/gtest.h>

#include "support/real_time_host.h"
#include "app/main_window_logic.h"
#include "net_test_support.h"
#include "port/net/net_port.h"
#include "port/placeholder_port.h"
#include "port/port_table.h"
#include "sim/transport/simulated_printer.h"
#include "support/wait_until.h"

namespace qx {
namespace {

class NetExchangeTest : public ::testing::Test {
 protected:
  test::PacedClock netClock{test::NetClockSpeed};
  test::RealTimeHost host;
  PortTable table{test::NetworkPorts(netClock)};
  MainWindowLogic logic{table, host};
  std::unique_ptr<sim::SimulatedPrinter> printer;

  void SetUp() override {
    sim::SimulatedPrinterOptions options;
    options.Address = {127, 6, 2, 1};
    options.Printer.RestartMs = 100;
    printer = std::make_unique<sim::SimulatedPrinter>(options);
    std::string error;
    ASSERT_TRUE(printer->Start(&error)) << error;
    logic.CreatePorts(nullptr);
    test::SelectNetworkPrinter(logic, {127, 6, 2, 1});
  }
  void TearDown() override {
    logic.DestroyPorts();
    printer.reset();
  }
};

TEST_F(NetExchangeTest, GetSetAndPrintTest) {
  printer->Printer().SetModelSetting(0x02);
  logic.GetButtonClick();
  EXPECT_EQ(host.label2, "QX-K40V");
  EXPECT_EQ(host.Boxes(),
            (std::vector<std::string>{"box Information (information icon): Getting information was successful."}));

  host.checked[static_cast<int>(Control::K40VRadioButton)] = true;
  logic.SetButtonClick();
  EXPECT_EQ(host.Boxes().back(), "box Information (information icon): The setting change succeeded.");
  EXPECT_EQ(printer->Printer().ModelSetting(), 0x03);
  EXPECT_EQ(host.label2, "QX-K40VI");

  logic.PrintButtonClick();
  EXPECT_EQ(host.Boxes().back(), "box Information (information icon): Test print was successful.");
  ASSERT_TRUE(test::WaitUntil([&] { return printer->Printer().PrintedLines().size() == 1; }));
  EXPECT_EQ(printer->Printer().PrintedLines(), (std::vector<std::string>{"QX-K40VII Setting Utility Test Print."}));
  // Every exchange probed the status channel before it connected.
  EXPECT_GE(printer->Zemak().RequestsReceived(sim::ZemakRequest::QueryReady), 3);
}

TEST_F(NetExchangeTest, SilentPrinterCannotBeOpened) {
  sim::DatagramFault silent;
  silent.Silent = true;
  printer->Zemak().SetFault(sim::ZemakRequest::QueryReady, silent);
  logic.GetButtonClick();
  ASSERT_EQ(host.Boxes().size(), 1u);
  EXPECT_NE(host.Boxes()[0].find("box Error (error icon): "), std::string::npos);
  EXPECT_EQ(printer->Tcp()->Accepted(), 0);
}

}  // namespace
}  // namespace qx
