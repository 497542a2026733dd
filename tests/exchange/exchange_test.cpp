// Get, Set and Print Test end to end through the main window's logic and the real port
// table, over every kind the build reaches the simulated printer with (see
// support/exchange_rigs.h), clean and with the printer misbehaving. Every exchange ends
// with its one right message box, no port open, the controls as before and within the
// time it allows. What only one kind has comes last.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/exchange_rigs.h"

namespace qx {
namespace {

enum class Exchange { Get, Set, Print };

struct Kind {
  const char* Name;
  std::function<std::unique_ptr<test::ExchangeRig>()> Make;
};

std::string KindName(const ::testing::TestParamInfo<Kind>& info) { return info.param.Name; }
void PrintTo(const Kind& kind, std::ostream* out) { *out << kind.Name; }

const Kind VendorUsb{"VendorUsb", [] { return std::make_unique<test::UsbRig>(test::UsbRig::VendorItem); }};
const Kind UsbPrinter{"UsbPrinter", [] { return std::make_unique<test::UsbRig>(test::UsbRig::PrinterItem); }};
const Kind Network{"Network", [] { return std::make_unique<test::NetRig>(); }};
const Kind PortService{"PortService", [] { return std::make_unique<test::ServiceRig>(); }};
#ifdef _WIN32
const Kind Serial{"Serial", [] { return std::make_unique<test::SerialRig>(); }};
const auto AllKinds = ::testing::Values(VendorUsb, UsbPrinter, Network, PortService, Serial);
#else
const auto AllKinds = ::testing::Values(VendorUsb, UsbPrinter, Network, PortService);
#endif

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class ExchangeTest : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    logic.CreatePorts(nullptr);
    ASSERT_EQ(rig->Problem(), "");
    rig->Select(logic);
    // A running window with every control usable.
    logic.SetControlsEnabled(true);
  }
  void TearDown() override {
    logic.DestroyPorts();
    rig->ExpectClean();
  }

  // Runs one exchange and checks what it must leave behind whatever went wrong: the one
  // box `message` calls for, no port open, the window free to close, the controls as
  // before. Returns the time it took on the rig's clock.
  std::int64_t Run(Exchange exchange, const char* message) {
    host.events.clear();
    bool before[ControlCount];
    std::copy(std::begin(host.enabled), std::end(host.enabled), before);
    const std::int64_t start = rig->Now();
    switch (exchange) {
      case Exchange::Get: logic.GetButtonClick(); break;
      case Exchange::Set: logic.SetButtonClick(); break;
      case Exchange::Print: logic.PrintButtonClick(); break;
    }
    const std::int64_t took = rig->Now() - start;
    const std::string what = "exchange " + std::to_string(static_cast<int>(exchange));
    EXPECT_EQ(host.Boxes(), std::vector<std::string>{test::BoxLine(message)}) << what;
    for (int kind = 0; kind < PortKindCount; ++kind) EXPECT_EQ(rig->Table().At(kind)->IsOpen(), 0) << what;
    EXPECT_TRUE(logic.CanClose()) << what;
    for (int c = 0; c < ControlCount; ++c) EXPECT_EQ(host.enabled[c], before[c]) << what << " control " << c;
    rig->ExpectClean();
    return took;
  }

  // The printer took exactly `bytes` (the port is closed before the box, so the last
  // bytes may still be on their way).
  void ExpectHostBytes(const sim::Bytes& bytes) {
    test::WaitUntil([&] { return printer.HostBytes().size() >= bytes.size(); }, std::chrono::seconds(5));
    EXPECT_EQ(sim::HexText(printer.HostBytes()), sim::HexText(bytes));
  }

  std::unique_ptr<test::ExchangeRig> rig = GetParam().Make();
  test::FakeHost& host = rig->Host();
  sim::PrinterEngine& printer = rig->Printer();
  MainWindowLogic logic{rig->Table(), host};
};

TEST_P(ExchangeTest, GetSetAndPrintTest) {
  printer.SetModelSetting(0x02);
  Run(Exchange::Get, MessageGetSucceeded);
  EXPECT_EQ(host.label2, "QX-K40V");
  ExpectHostBytes(sim::wire::Identify() + sim::wire::FirmwareQuery() + sim::wire::ModelSettingQuery());

  host.checked[static_cast<int>(Control::K40VRadioButton)] = true;  // caption "QX-K40VI"
  const std::int64_t took = Run(Exchange::Set, MessageSetSucceeded);
  EXPECT_EQ(printer.ModelSetting(), 0x03);
  EXPECT_EQ(host.label2, "QX-K40VI");
  EXPECT_EQ(printer.RestartCount(), 1);
  EXPECT_EQ(host.progress, 100);
  if (rig->FakeTime()) {
    EXPECT_GE(took, 40000);  // the restart wait
  }

  Run(Exchange::Print, MessagePrintSucceeded);
  ASSERT_TRUE(test::WaitUntil([&] { return printer.PrintedLines().size() == 1; }));
  EXPECT_EQ(printer.PrintedLines(), (std::vector<std::string>{"QX-K40VII Setting Utility Test Print."}));
}

TEST_P(ExchangeTest, ASilentPrinterIsNotRecognisedWithinOneByteLimit) {
  sim::ReplyFault silent;
  silent.Silent = true;
  printer.SetFaultForAll(silent);
  for (Exchange e : {Exchange::Get, Exchange::Set, Exchange::Print}) {
    const std::int64_t took = Run(e, MessageNotRecognised);
    EXPECT_LE(took, rig->ReplyBoundMs());
    if (rig->FakeTime()) {
      EXPECT_GE(took, 2000);
    }
  }
  EXPECT_TRUE(printer.PrintedLines().empty());
}

TEST_P(ExchangeTest, AHangUpInTheMiddleOfAReply) {
  struct Case {
    sim::Command Command;
    int After;
    const char* Message;
  } cases[] = {
      {sim::Command::Identify, 5, MessageNotRecognised},
      {sim::Command::Firmware, 2, MessageNotRecognised},
      {sim::Command::ModelSettingQuery, 6, MessageCannotGet},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.After);
    printer.ClearFaults();
    rig->SetPresent(true);
    sim::ReplyFault hangUp;
    hangUp.DisconnectAfter = c.After;
    hangUp.Count = 1;
    printer.SetFault(c.Command, hangUp);
    EXPECT_LE(Run(Exchange::Get, c.Message), rig->ReplyBoundMs());
  }
  // The printer is fine again on the next exchange.
  printer.ClearFaults();
  rig->SetPresent(true);
  Run(Exchange::Get, MessageGetSucceeded);
}

TEST_P(ExchangeTest, APrinterThatIsNotThereAndComesBack) {
  rig->SetPresent(false);
  Run(Exchange::Print, rig->AbsentMessage());
  EXPECT_TRUE(printer.PrintedLines().empty());
  rig->SetPresent(true);
  Run(Exchange::Get, MessageGetSucceeded);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ExchangeTest, AllKinds, KindName);

// The two USB kinds: their drivers' own ways to fail.
class UsbExchangeTest : public ExchangeTest {
 protected:
  test::UsbRig& usb = static_cast<test::UsbRig&>(*rig);
  bool vendor = usb.Item() == test::UsbRig::VendorItem;
};

TEST_P(UsbExchangeTest, TheExchangesTimeOuts) {
  Run(Exchange::Get, MessageGetSucceeded);
  if (vendor) {
    // Opened by its fixed name with the exchange's time-outs.
    EXPECT_TRUE(Contains(usb.vendor.Log(), "open \\\\.\\QXUSB000\\QX flags 0x0"));
    EXPECT_EQ(usb.vendor.Get<DriverTimeouts>(0, [](const test::VendorDevice& d) { return d.Timeouts; }),
              (DriverTimeouts{0, 10, 0, 2000}));
  } else {
    // A printer that takes nothing: the identify command is not reported as sent.
    usb.printer.Change(0, [](test::UsbPrinter& p) { p.StallWrites = 1000; });
    Run(Exchange::Get, MessageCannotSend);
  }
}

TEST_P(UsbExchangeTest, ARestartLongerThanTheReopenAttempts) {
  // 40 s of waiting, then attempts at once and after 2, 4 and 6 s: a printer back after
  // 60 s misses all of them. The vendor driver's device is gone meanwhile, so the port
  // does not open again; the printing driver keeps its interface, so the port opens at
  // once and the query goes unanswered.
  printer.SetRestartMs(60000);
  const std::int64_t took = Run(Exchange::Set, vendor ? MessageCannotOpen : MessageCannotGet);
  EXPECT_GE(took, vendor ? 40000 + 12000 : 40000);
  EXPECT_LE(took, vendor ? 40000 + 12000 + rig->ReplyBoundMs() : 40000 + 2 * rig->ReplyBoundMs());
}

TEST_P(UsbExchangeTest, ADevicePulledOutDuringAnExchange) {
  // Gone while the identify reply arrives. The vendor driver hands bytes over as they
  // come, so the rest of the reply never does; the printer class fetches whole 512-byte
  // units, so the reply is complete and the next command cannot be sent.
  int peeks = 0;
  host.onPeek = [&] {
    if (++peeks == 4) rig->SetPresent(false);
  };
  EXPECT_LE(Run(Exchange::Get, vendor ? MessageNotRecognised : MessageCannotSend), rig->ReplyBoundMs());
  host.onPeek = nullptr;

  // Gone while the printer restarts after a model change: it cannot be opened again.
  rig->SetPresent(true);
  host.onProcessMessages = [&] { rig->SetPresent(false); };
  Run(Exchange::Set, MessageCannotOpen);
  host.onProcessMessages = nullptr;

  // Plugged in again: the next exchange works.
  rig->SetPresent(true);
  host.now += 60000;
  Run(Exchange::Get, MessageGetSucceeded);
}

INSTANTIATE_TEST_SUITE_P(Kinds, UsbExchangeTest, ::testing::Values(VendorUsb, UsbPrinter), KindName);

// The network kind asks its status channel first.
using NetExchangeTest = ExchangeTest;

TEST_P(NetExchangeTest, EveryExchangeProbesTheStatusChannelFirst) {
  auto& net = static_cast<test::NetRig&>(*rig);
  Run(Exchange::Get, MessageGetSucceeded);
  Run(Exchange::Print, MessagePrintSucceeded);
  EXPECT_GE(net.server->Zemak().RequestsReceived(sim::ZemakRequest::QueryReady), 2);

  sim::DatagramFault silent;
  silent.Silent = true;
  net.server->Zemak().SetFault(sim::ZemakRequest::QueryReady, silent);
  Run(Exchange::Get, MessageCannotOpen);
  EXPECT_EQ(net.server->Tcp()->Accepted(), 2);
}

INSTANTIATE_TEST_SUITE_P(Kinds, NetExchangeTest, ::testing::Values(Network), KindName);

// The port-service kind: how it calls the library.
class ServiceExchangeTest : public ExchangeTest {
 protected:
  test::ServiceRig& service = static_cast<test::ServiceRig&>(*rig);
};

TEST_P(ServiceExchangeTest, TheLibrarysCalls) {
  Run(Exchange::Get, MessageGetSucceeded);
  std::vector<std::string> calls = test::ZemakCalls();
  EXPECT_TRUE(Contains(calls, "Open pipe://QX/PVDPRT001 -> 1"));
  EXPECT_TRUE(Contains(calls, "SendReceive 1 5 flags=0 timeout=2000 receive=0"));
  Run(Exchange::Print, MessagePrintSucceeded);
  EXPECT_TRUE(Contains(test::ZemakCalls(), "SendReceive 2 39 flags=0 timeout=2000 receive=0"));

  // A service on another machine.
  test::ServiceRig::Use(logic, "PH-remote", 1, {10, 0, 0, 5});
  Run(Exchange::Get, MessageGetSucceeded);
  EXPECT_TRUE(Contains(test::ZemakCalls(), "Open tcp://10.0.0.5/QX/PVDPRT001 -> 3"));

  // A port the service does not have.
  test::ServiceRig::Use(logic, "PH-002", 2, {192, 168, 192, 168});
  Run(Exchange::Get, MessageCannotOpen);
  EXPECT_EQ(service.backend.Refused(), (std::vector<std::string>{"PVDPRT002"}));
}

TEST_P(ServiceExchangeTest, ARestartThatOutlastsTheWaitAndALateReply) {
  printer.SetRestartMs(45000);
  host.checked[static_cast<int>(Control::K40IVRadioButton)] = true;  // caption "QX-K40V"
  Run(Exchange::Set, MessageSetSucceeded);
  EXPECT_EQ(printer.ModelSetting(), 0x02);
  // Refused while the printer restarts, open again after the second retry.
  EXPECT_EQ(service.backend.Refused().size(), 2u);
  EXPECT_TRUE(Contains(host.events, "sleep 2000"));
  EXPECT_TRUE(Contains(host.events, "sleep 4000"));
  EXPECT_FALSE(Contains(host.events, "sleep 6000"));

  // The identify reply comes 1500 ms of printer time later: fake time has to move for
  // it, and the exchange still succeeds.
  sim::ReplyFault late;
  late.DelayMs = 1500;
  printer.SetFault(sim::Command::Identify, late);
  Run(Exchange::Print, MessagePrintSucceeded);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ServiceExchangeTest, ::testing::Values(PortService), KindName);

#ifdef _WIN32
// COM20's pty pair is stopped by the fixture when asked: the device goes away while the
// utility waits for a reply.
bool AskFixtureToPullOutCom20() {
  std::string path = std::string("Z:") + QX_PTY_STATE + "/vanish-COM20";
  std::replace(path.begin(), path.end(), '/', '\\');
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

const Kind Com20{"Com20", [] { return std::make_unique<test::SerialRig>("COM20", 19, "COM21"); }};
using SerialExchangeTest = ExchangeTest;

TEST_P(SerialExchangeTest, TheDeviceGoesWhileAReplyIsAwaited) {
  // The firmware query is never answered: the utility is waiting when the device goes.
  sim::ReplyFault silent;
  silent.Silent = true;
  printer.SetFault(sim::Command::Firmware, silent);
  std::atomic<bool> pulled{false};
  std::thread puller([&] {
    if (test::WaitUntil([&] { return printer.CommandsReceived(sim::Command::Firmware) > 0; })) {
      pulled = AskFixtureToPullOutCom20();
    }
  });
  EXPECT_LE(Run(Exchange::Get, MessageNotRecognised), rig->ReplyBoundMs());
  puller.join();
  ASSERT_TRUE(pulled);

  // With the device gone the next Get fails at once with one error box of its own.
  host.events.clear();
  const std::int64_t start = rig->Now();
  logic.GetButtonClick();
  EXPECT_LE(rig->Now() - start, rig->ReplyBoundMs());
  ASSERT_EQ(host.Boxes().size(), 1u);
  EXPECT_EQ(host.Boxes()[0].rfind("box Error (error icon): ", 0), 0u) << host.Boxes()[0];
  EXPECT_TRUE(logic.CanClose());
}

INSTANTIATE_TEST_SUITE_P(Kinds, SerialExchangeTest, ::testing::Values(Com20), KindName);
#endif

}  // namespace
}  // namespace qx
