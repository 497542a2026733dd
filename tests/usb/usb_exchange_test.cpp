// Get, Set and Print Test end to end through the main window's logic and the port
// table, on both USB kinds, each against its simulated driver with the simulated
// printer behind it. One fake clock: the window's, the drivers' and the printer's.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/fake_host.h"
#include "app/main_window_logic.h"
#include "port/placeholder_port.h"
#include "port/usb/usb_port.h"
#include "port/usb/usb_printer.h"
#include "sim/usb/simulated_usb.h"
#include "usb/usb_exchange_support.h"

namespace qx {
namespace {

using test::FakeHost;
using test::HostTime;
using test::SimUsbPrintDriver;
using test::SimVendorUsbDriver;
using test::UsbPrinter;
using test::VendorDevice;

std::string Box(const char* title, const char* text) {
  const bool error = std::string(title) == TitleError;
  return std::string("box ") + title + (error ? " (error icon): " : " (information icon): ") + text;
}

class UsbExchangeTest : public ::testing::Test {
 protected:
  FakeHost host;
  HostTime time{host};
  Clock& clock{time};
  sim::PrinterEngine engine{clock};
  SimVendorUsbDriver vendor{time, engine};
  SimUsbPrintDriver printer{time, engine};
  PortTable table{test::SimulatedUsbPorts(vendor, &printer)};
  MainWindowLogic logic{table, host};

  void SetUp() override {
    vendor.AddDevice(0);
    printer.AddPrinter();
    logic.CreatePorts(nullptr);
    // What the window lists at start: one vendor interface, one printer interface.
    logic.AddUsbDevices({0}, {0});
  }
  void TearDown() override {
    logic.DestroyPorts();
    EXPECT_EQ(vendor.BadCalls(), 0) << ::testing::PrintToString(vendor.BadCallLog());
    EXPECT_EQ(printer.BadCalls(), 0) << ::testing::PrintToString(printer.BadCallLog());
    EXPECT_EQ(vendor.OpenHandles(), 0);
    EXPECT_EQ(printer.OpenHandles(), 0);
  }
  void Use(int item) {
    logic.SelectPort(item);
    logic.PortComboBoxChange();
  }
};

TEST_F(UsbExchangeTest, TheListedEntries) {
  EXPECT_EQ(host.items, (std::vector<std::string>{"USB-000", "USB PRN-001"}));
  EXPECT_EQ(host.selected, 1);
  EXPECT_EQ(logic.Ports().Entry(0).PortType, KindVendorUsb);
  EXPECT_EQ(logic.Ports().Entry(1).PortType, KindUsbPrinter);
  EXPECT_EQ(logic.Ports().Entry(1).DeviceNumber, 0);
}

TEST_F(UsbExchangeTest, GetOnBothKinds) {
  for (int item : {0, 1}) {
    engine.SetModelSetting(item == 0 ? 0x03 : 0x02);
    engine.ClearLog();
    host.events.clear();
    Use(item);
    logic.GetButtonClick();
    EXPECT_EQ(host.Boxes(), (std::vector<std::string>{Box(TitleInformation, MessageGetSucceeded)})) << item;
    EXPECT_EQ(host.label2, item == 0 ? "QX-K40VI" : "QX-K40V");
    EXPECT_EQ(engine.HostBytes(), sim::wire::Identify() + sim::wire::FirmwareQuery() + sim::wire::ModelSettingQuery());
  }
  // The vendor port was opened by its fixed name with the exchange's time-outs.
  const auto log = vendor.Log();
  EXPECT_NE(std::find(log.begin(), log.end(), "open \\\\.\\QXUSB000\\QX flags 0x0"), log.end());
  EXPECT_EQ(vendor.Get<DriverTimeouts>(0, [](const VendorDevice& d) { return d.Timeouts; }),
            (DriverTimeouts{0, 10, 0, 2000}));
}

TEST_F(UsbExchangeTest, SetOnBothKinds) {
  for (int item : {0, 1}) {
    engine.SetModelSetting(0x00);
    host.events.clear();
    host.checked[static_cast<int>(Control::K40IVRadioButton)] = item == 0;
    host.checked[static_cast<int>(Control::K40VRadioButton)] = item == 1;
    Use(item);
    logic.SetButtonClick();
    EXPECT_EQ(host.Boxes(), (std::vector<std::string>{Box(TitleInformation, MessageSetSucceeded)})) << item;
    EXPECT_EQ(host.label2, item == 0 ? "QX-K40V" : "QX-K40VI");
    EXPECT_EQ(engine.ModelSetting(), item == 0 ? 0x02 : 0x03);
    EXPECT_EQ(engine.RestartCount(), item + 1);
    EXPECT_EQ(host.progress, 100);
  }
}

TEST_F(UsbExchangeTest, PrintTestOnBothKinds) {
  for (int item : {0, 1}) {
    host.events.clear();
    Use(item);
    logic.PrintButtonClick();
    EXPECT_EQ(host.Boxes(), (std::vector<std::string>{Box(TitleInformation, MessagePrintSucceeded)})) << item;
  }
  EXPECT_EQ(engine.PrintedLines(),
            (std::vector<std::string>{"QX-K40VII Setting Utility Test Print.", "QX-K40VII Setting Utility Test Print."}));
}

TEST_F(UsbExchangeTest, FailuresReachTheOperator) {
  // A removed vendor device cannot be opened.
  vendor.Change(0, [](VendorDevice& d) { d.Present = false; });
  Use(0);
  logic.GetButtonClick();
  EXPECT_EQ(host.Boxes().back(), Box(TitleError, MessageCannotOpen));

  // A printer that takes nothing: the identify command is not reported as sent.
  printer.Change(0, [](UsbPrinter& p) { p.StallWrites = 1000; });
  host.events.clear();
  Use(1);
  logic.GetButtonClick();
  EXPECT_EQ(host.Boxes(), (std::vector<std::string>{Box(TitleError, MessageCannotSend)}));

  // A silent printer on the vendor port.
  vendor.Change(0, [](VendorDevice& d) { d.Present = true; });
  sim::ReplyFault silent;
  silent.Silent = true;
  engine.SetFault(sim::Command::Identify, silent);
  host.events.clear();
  Use(0);
  logic.GetButtonClick();
  EXPECT_EQ(host.Boxes(), (std::vector<std::string>{Box(TitleError, MessageNotRecognised)}));
}

}  // namespace
}  // namespace qx
