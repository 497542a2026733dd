// Get, Set and Print Test through the main window's logic and the serial kind, over a
// pty pair mapped into Wine: the far end is bridged to the simulated printer's engine.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/main_window_logic.h"
#include "app/fake_host.h"
#include "port/port_table.h"
#include "port/standard_ports.h"
#include "support/memory_port.h"
#include "pty_peer.h"
#include "sim/engine/printer_engine.h"
#include "sim/transport/real_clock.h"

namespace qx {
namespace {

// Carries bytes both ways between the pty's far end and the printer, until destroyed.
class PtyBridge {
 public:
  PtyBridge(test::PtyPeer& peer, sim::PrinterEngine& printer)
      : peer_(peer), link_(printer), thread_([this] { Run(); }) {}
  ~PtyBridge() {
    stop_ = true;
    thread_.join();
  }

 private:
  void Run() {
    while (!stop_) {
      const std::string fromHost = peer_.ReceiveNow();
      if (!fromHost.empty()) link_.Write(fromHost);
      const sim::Bytes toHost = link_.Read();
      if (!toHost.empty()) peer_.Send(toHost);
      if (fromHost.empty() && toHost.empty()) SleepMilliseconds(1);
    }
  }

  test::PtyPeer& peer_;
  sim::HostLink link_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Real time for the short polls, so bytes have time to cross the pty; the long waits
// of Set (the restart wait and the reopen pauses) pass at once.
class PtyHost : public test::FakeHost {
 public:
  std::int64_t ElapsedMilliseconds() override { return SteadyMilliseconds() - origin_ + skipped_; }
  void Sleep(int ms) override {
    if (ms <= 10) {
      SleepMilliseconds(ms);
    } else {
      skipped_ += ms;
      events.push_back("sleep " + std::to_string(ms));
    }
  }
  void ProcessMessages() override { skipped_ += 99; }

 private:
  std::int64_t origin_ = SteadyMilliseconds();
  std::int64_t skipped_ = 0;
};

class SerialExchangeTest : public ::testing::Test {
 protected:
  sim::RealClock clock;
  sim::PrinterEngine printer{clock, {.ModelName = "QX-K40VII", .Firmware = "6.00", .ModelSetting = 0x00,
                                     .RestartMs = 100}};
  test::PtyPeer peer{"COM2"};  // COM1's far end
  PtyHost host;
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
  PtyBridge bridge(peer, printer);
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
