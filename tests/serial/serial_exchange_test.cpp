// Get, Set and Print Test through the main window's logic and the serial kind, over a
// pty pair mapped into Wine: the far end is bridged to the simulated printer's engine.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/main_window_logic.h"
#include "app/real_time_host.h"
#include "port/port_table.h"
#include "port/standard_ports.h"
#include "support/memory_port.h"
#include "pty_bridge.h"
#include "sim/engine/printer_engine.h"
#include "sim/transport/real_clock.h"

namespace qx {
namespace {

class SerialExchangeTest : public ::testing::Test {
 protected:
  sim::RealClock clock;
  sim::PrinterEngine printer{clock, {.ModelName = "QX-K40VII", .Firmware = "6.00", .ModelSetting = 0x00,
                                     .RestartMs = 100}};
  test::PtyPeer peer{"COM2"};  // COM1's far end
  test::RealTimeHost host;
  PortTable table{CreateStandardPort};
  MainWindowLogic logic{table, host};

  void SetUp() override {
    ASSERT_TRUE(peer.Valid());
    logic.CreatePorts(nullptr);
    PortSettings com1 = logic.CurrentSettings();
    com1.PortType = KindSerial;
    com1.PortNumber = 0;
    com1.BaudCode = 3;
    logic.AddPortEntry("COM1", com1);
    logic.PortComboBoxChange();
  }
  void TearDown() override { logic.DestroyPorts(); }
};

TEST_F(SerialExchangeTest, GetSetAndPrintTest) {
  test::PtyBridge bridge(peer, printer);
  printer.SetModelSetting(0x02);
  logic.GetButtonClick();
  EXPECT_EQ(host.label2, "QX-K40V");
  EXPECT_EQ(host.Boxes(), (std::vector<std::string>{"box Information (information icon): Getting information was successful."}));

  host.checked[static_cast<int>(Control::K40VRadioButton)] = true;
  logic.SetButtonClick();
  EXPECT_EQ(host.Boxes().back(), "box Information (information icon): The setting change succeeded.");
  EXPECT_EQ(printer.ModelSetting(), 0x03);
  EXPECT_EQ(host.label2, "QX-K40VI");

  logic.PrintButtonClick();
  EXPECT_EQ(host.Boxes().back(), "box Information (information icon): Test print was successful.");
  // The port is closed before the box, so the last bytes may still be on their way.
  ASSERT_TRUE(test::WaitUntil([&] { return printer.PrintedLines().size() == 1; }));
  EXPECT_EQ(printer.PrintedLines(), (std::vector<std::string>{"QX-K40VII Setting Utility Test Print."}));
}

TEST_F(SerialExchangeTest, NoPrinterOnTheLine) {
  logic.GetButtonClick();  // nothing answers on COM2
  EXPECT_EQ(host.Boxes(),
            (std::vector<std::string>{"box Error (error icon): Communication error.Can not recognize QX-K40VII."}));
}

}  // namespace
}  // namespace qx
