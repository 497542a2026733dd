// Faults during the exchanges, end to end through the main window's logic on both USB
// kinds against their simulated drivers and the simulated printer: a silent printer, a
// link that hangs up in the middle of a reply, a restart that outlasts the reopen
// attempts, and a device pulled out in the middle of an exchange. Each ends with the
// one right message box, the controls usable, no handle left open, and within the
// time the exchange allows (one fake clock for the window, drivers and printer).

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

enum class Exchange { Get, Set, Print };
const char* Name(Exchange e) { return e == Exchange::Get ? "Get" : e == Exchange::Set ? "Set" : "Print Test"; }

// List items: 0 is the vendor driver's device, 1 the printer-class interface.
constexpr int VendorItem = 0;
constexpr int PrinterItem = 1;

class ReliabilityFaults : public ::testing::Test {
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
    logic.AddUsbDevices({0}, {0});
    // A running window with every control usable.
    logic.SetControlsEnabled(true);
  }
  void TearDown() override {
    logic.DestroyPorts();
    EXPECT_EQ(vendor.BadCalls(), 0) << ::testing::PrintToString(vendor.BadCallLog());
    EXPECT_EQ(printer.BadCalls(), 0) << ::testing::PrintToString(printer.BadCallLog());
  }

  // Runs one exchange on a list item from a clean slate; returns the fake time it took.
  std::int64_t Run(int item, Exchange exchange) {
    host.events.clear();
    NoteControls();
    host.onPeek = nullptr;
    host.onProcessMessages = nullptr;
    logic.SelectPort(item);
    logic.PortComboBoxChange();
    NoteControls();
    const std::int64_t start = host.now;
    switch (exchange) {
      case Exchange::Get:
        logic.GetButtonClick();
        break;
      case Exchange::Set:
        logic.SetButtonClick();
        break;
      case Exchange::Print:
        logic.PrintButtonClick();
        break;
    }
    return host.now - start;
  }

  // The controls as they were before an exchange.
  void NoteControls() {
    for (int c = 0; c < ControlCount; ++c) before_[c] = host.enabled[c];
  }
  // What every exchange leaves behind, whatever went wrong: no handle open, the window
  // free to close, the controls as before.
  void ExpectCleanEnd(const std::string& what) {
    EXPECT_EQ(vendor.OpenHandles(), 0) << what;
    EXPECT_EQ(printer.OpenHandles(), 0) << what;
    EXPECT_TRUE(logic.CanClose()) << what;
    for (int c = 0; c < ControlCount; ++c) EXPECT_EQ(host.enabled[c], before_[c]) << what << " control " << c;
  }
  bool before_[ControlCount] = {};

  void SetVendorPresent(bool present) {
    vendor.Change(0, [present](VendorDevice& d) { d.Present = present; });
  }
  void SetPrinterPresent(bool present) {
    printer.Change(0, [present](UsbPrinter& p) { p.Present = present; });
  }
  // Both ends of a link that hung up stay down: a device plugged in again gets a new one.
  void PlugInAgain() {
    vendor.Change(0, [this](VendorDevice& d) { d.Link = std::make_unique<sim::HostLink>(engine); });
    printer.Change(0, [this](UsbPrinter& p) { p.Link = std::make_unique<sim::HostLink>(engine); });
  }
  void SetPresent(int item, bool present) {
    if (item == VendorItem) {
      SetVendorPresent(present);
    } else {
      SetPrinterPresent(present);
    }
  }
};

// A reply that never comes costs one 2000 ms byte limit, plus the five discarding
// reads before it and the poll that runs past the limit (each a driver read time-out).
constexpr std::int64_t OneReplyLimit = 2000 + 600;

TEST_F(ReliabilityFaults, ASilentPrinterIsNotRecognisedWithinOneByteLimit) {
  sim::ReplyFault silent;
  silent.Silent = true;
  engine.SetFaultForAll(silent);
  for (int item : {VendorItem, PrinterItem}) {
    for (Exchange e : {Exchange::Get, Exchange::Set, Exchange::Print}) {
      const std::string what = std::string(Name(e)) + " on item " + std::to_string(item);
      const std::int64_t took = Run(item, e);
      EXPECT_EQ(host.Boxes(), std::vector<std::string>{test::BoxLine(MessageNotRecognised)}) << what;
      EXPECT_LE(took, OneReplyLimit) << what;
      ExpectCleanEnd(what);
    }
  }
  EXPECT_TRUE(engine.PrintedLines().empty());
}

TEST_F(ReliabilityFaults, AHangUpInTheMiddleOfAReply) {
  struct Case {
    sim::Command Command;
    int After;
    const char* Message;
  } cases[] = {
      {sim::Command::Identify, 5, MessageNotRecognised},
      {sim::Command::Firmware, 2, MessageNotRecognised},
      {sim::Command::ModelSettingQuery, 6, MessageCannotGet},
  };
  for (int item : {VendorItem, PrinterItem}) {
    for (const Case& c : cases) {
      const std::string what = "item " + std::to_string(item) + " after " + std::to_string(c.After);
      engine.ClearFaults();
      PlugInAgain();
      sim::ReplyFault hangUp;
      hangUp.DisconnectAfter = c.After;
      hangUp.Count = 1;
      engine.SetFault(c.Command, hangUp);
      const std::int64_t took = Run(item, Exchange::Get);
      EXPECT_EQ(host.Boxes(), std::vector<std::string>{test::BoxLine(c.Message)}) << what;
      EXPECT_LE(took, OneReplyLimit) << what;
      ExpectCleanEnd(what);
    }
  }
  // The printer is fine again on the next exchange.
  engine.ClearFaults();
  PlugInAgain();
  Run(VendorItem, Exchange::Get);
  EXPECT_EQ(host.Boxes(), std::vector<std::string>{test::BoxLine(MessageGetSucceeded)});
}

TEST_F(ReliabilityFaults, ARestartLongerThanTheReopenAttempts) {
  // 40 s of waiting, then attempts at once and after 2, 4 and 6 s: a printer back after
  // 60 s misses all of them. The vendor driver's device is gone meanwhile, so the port
  // does not open again.
  engine.SetRestartMs(60000);
  std::int64_t took = Run(VendorItem, Exchange::Set);
  EXPECT_EQ(host.Boxes(), std::vector<std::string>{test::BoxLine(MessageCannotOpen)});
  EXPECT_GE(took, 40000 + 12000);
  EXPECT_LE(took, 40000 + 12000 + OneReplyLimit);
  ExpectCleanEnd("vendor driver");

  // The printing driver keeps its interface while the printer restarts: the port
  // opens at once and the query goes unanswered.
  host.now += 60000;
  took = Run(PrinterItem, Exchange::Set);
  EXPECT_EQ(host.Boxes(), std::vector<std::string>{test::BoxLine(MessageCannotGet)});
  EXPECT_GE(took, 40000);
  EXPECT_LE(took, 40000 + 2 * OneReplyLimit);
  ExpectCleanEnd("printer class");
}

TEST_F(ReliabilityFaults, ADevicePulledOutDuringAnExchange) {
  for (int item : {VendorItem, PrinterItem}) {
    const std::string what = "item " + std::to_string(item);

    // Gone while the identify reply arrives. The vendor driver hands bytes over as they
    // come, so the rest of the reply never does; the printer class fetches whole
    // 512-byte units, so the reply is complete and the next command cannot be sent.
    SetPresent(item, true);
    int peeks = 0;
    logic.SelectPort(item);
    logic.PortComboBoxChange();
    NoteControls();
    const std::int64_t start = host.now;
    host.events.clear();
    host.onPeek = [&] {
      if (++peeks == 4) SetPresent(item, false);
    };
    logic.GetButtonClick();
    host.onPeek = nullptr;
    const char* expected = item == VendorItem ? MessageNotRecognised : MessageCannotSend;
    EXPECT_EQ(host.Boxes(), std::vector<std::string>{test::BoxLine(expected)}) << what;
    EXPECT_LE(host.now - start, OneReplyLimit) << what;
    ExpectCleanEnd(what);

    // Gone while the printer restarts after a model change: it cannot be opened again.
    SetPresent(item, true);
    host.events.clear();
    NoteControls();
    host.onProcessMessages = [&] { SetPresent(item, false); };
    logic.SetButtonClick();
    host.onProcessMessages = nullptr;
    EXPECT_EQ(host.Boxes(), std::vector<std::string>{test::BoxLine(MessageCannotOpen)}) << what;
    ExpectCleanEnd(what);

    // Not there at all.
    Run(item, Exchange::Print);
    EXPECT_EQ(host.Boxes(), std::vector<std::string>{test::BoxLine(MessageCannotOpen)}) << what;
    ExpectCleanEnd(what);

    // Plugged in again: the next exchange works.
    SetPresent(item, true);
    host.now += 60000;
    Run(item, Exchange::Get);
    EXPECT_EQ(host.Boxes(), std::vector<std::string>{test::BoxLine(MessageGetSucceeded)}) << what;
  }
}

}  // namespace
}  // namespace qx
