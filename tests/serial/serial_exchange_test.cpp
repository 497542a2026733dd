// Get, Set and Print Test through the main window's logic and the serial kind, over a
// pty pair mapped into Wine: the far end is bridged to the simulated printer's engine.

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "app/main_window_logic.h"
#include "support/real_time_host.h"
#include "port/port_table.h"
#include "port/standard_ports.h"
#include "support/wait_until.h"
#include "pty_bridge.h"
#include "sim/engine/printer_engine.h"
#include "sim/transport/real_clock.h"

namespace qx {
namespace {

// The serial kind on DEVICE, whose pty's far end PEER is the printer.
class ComExchangeTest : public ::testing::Test {
 protected:
  ComExchangeTest(const char* device, int portNumber, const char* peerName)
      : device_(device), portNumber_(portNumber), peer(peerName) {}

  void SetUp() override {
    ASSERT_TRUE(peer.Valid());
    logic.CreatePorts(nullptr);
    PortSettings com = logic.CurrentSettings();
    com.PortType = KindSerial;
    com.PortNumber = portNumber_;
    com.BaudCode = 3;
    logic.AddPortEntry(device_, com);
    logic.PortComboBoxChange();
  }
  void TearDown() override { logic.DestroyPorts(); }

 private:
  const char* device_;
  int portNumber_;

 protected:
  sim::RealClock clock;
  sim::PrinterEngine printer{clock, {.ModelName = "QX-K40VII", .Firmware = "6.00", .ModelSetting = 0x00,
                                     .RestartMs = 100}};
  test::PtyPeer peer;
  test::RealTimeHost host;
  PortTable table{CreateStandardPort};
  MainWindowLogic logic{table, host};
};

class SerialExchangeTest : public ComExchangeTest {
 protected:
  SerialExchangeTest() : ComExchangeTest("COM1", 0, "COM2") {}
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

// COM20's pty pair is stopped by the fixture when asked: the device goes away while the
// utility waits for a reply.
class SerialVanishTest : public ComExchangeTest {
 protected:
  SerialVanishTest() : ComExchangeTest("COM20", 19, "COM21") {}

  static bool AskFixtureToPullOut() {
    std::string path = std::string("Z:") + QX_PTY_STATE + "/vanish-COM20";
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
  }

  // Runs a Get and returns its wall time in milliseconds.
  std::int64_t TimedGet() {
    host.events.clear();
    const std::int64_t start = SteadyMilliseconds();
    logic.GetButtonClick();
    return SteadyMilliseconds() - start;
  }
};

TEST_F(SerialVanishTest, TheDeviceGoesWhileAReplyIsAwaited) {
  // The firmware query is never answered: the utility is waiting when the device goes.
  sim::ReplyFault silent;
  silent.Silent = true;
  printer.SetFault(sim::Command::Firmware, silent);
  test::PtyBridge bridge(peer, printer);
  std::atomic<bool> pulled{false};
  std::thread puller([&] {
    if (test::WaitUntil([&] { return printer.CommandsReceived(sim::Command::Firmware) > 0; })) {
      pulled = AskFixtureToPullOut();
    }
  });
  const std::int64_t first = TimedGet();
  puller.join();
  ASSERT_TRUE(pulled);
  EXPECT_LE(first, 8000);
  EXPECT_EQ(host.Boxes(),
            (std::vector<std::string>{"box Error (error icon): Communication error.Can not recognize QX-K40VII."}));
  EXPECT_TRUE(logic.CanClose());

  // With the device gone the next Get fails at once with one error box of its own.
  const std::int64_t second = TimedGet();
  EXPECT_LE(second, 8000);
  ASSERT_EQ(host.Boxes().size(), 1u);
  EXPECT_EQ(host.Boxes()[0].rfind("box Error (error icon): ", 0), 0u) << host.Boxes()[0];
  EXPECT_TRUE(logic.CanClose());
}

}  // namespace
}  // namespace qx
