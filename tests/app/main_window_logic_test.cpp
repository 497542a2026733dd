// The exchanges behind Get, Set and Print Test, the port list and the control states,
// driven through the real port table against the simulated printer's engine on one
// fake clock, so the 2000 ms per-byte limit and the 40 s and 60 s waits take no time.

#include "app/main_window_logic.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <string>

#include "support/fake_host.h"
#include "sim/engine/printer_engine.h"
#include "support/sim_port.h"

namespace qx {
namespace {

using sim::Command;
using sim::ReplyFault;
using test::FakeHost;
using test::TSimPort;

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}
template <std::size_t N>
std::string Bytes(const std::array<std::uint8_t, N>& command) {
  return std::string(command.begin(), command.end());
}

const std::string Identify = Bytes(IdentifyCommand);
const std::string Firmware = Bytes(FirmwareQuery);
const std::string Query = Bytes(ModelSettingQuery);
const std::string Enter = Bytes(EnterSettingMode);
const std::string Leave = Bytes(LeaveSettingMode);
const std::string TestPrint(TestPrintText, TestPrintLength);
const std::string Success = "box Information (information icon): ";
const std::string Failure = "box Error (error icon): ";

ReplyFault Replace(const std::string& bytes) {
  ReplyFault fault;
  fault.Replace = bytes;
  return fault;
}
ReplyFault InsertAt(const std::string& bytes, int at) {
  ReplyFault fault;
  fault.Insert = bytes;
  fault.InsertAt = at;
  return fault;
}

class MainWindowLogicTest : public ::testing::Test {
 protected:
  sim::FakeClock clock;
  sim::PrinterEngine printer{clock};
  FakeHost host;
  PortTable table{[this](int kind) {
    auto port = std::make_unique<TSimPort>(kind, printer);
    port->Hooks.OnOpened = [this](int id) { host.events.push_back("open " + std::to_string(id)); };
    port->Hooks.OnClosed = [this](int id) { host.events.push_back("close " + std::to_string(id)); };
    return port;
  }};
  MainWindowLogic logic{table, host};

  void SetUp() override {
    host.onTime = [this](std::int64_t now) { clock.Set(now); };
    logic.CreatePorts(nullptr);
  }
  void TearDown() override { logic.DestroyPorts(); }

  // Adds one list entry for a port kind and selects it.
  void UsePort(int kind, const std::string& name = "PORT") {
    PortSettings settings = logic.CurrentSettings();
    settings.PortType = kind;
    logic.AddPortEntry(name, settings);
    logic.PortComboBoxChange();
  }
  TSimPort& Port(int kind) { return static_cast<TSimPort&>(*table.At(kind)); }
  // Opens the selected port and sends the identify command, as the prologue would.
  void OpenAndIdentify() {
    logic.ConfigurePortsForExchange();
    ASSERT_EQ(table.Open(logic.CurrentSettings().PortType), 1);
    ASSERT_EQ(table.Write(logic.CurrentSettings().PortType, 0, Identify.data(), 5, nullptr), 1);
  }
  std::string Wire() const { return printer.HostBytes(); }
  void Forget() {
    printer.ClearLog();
    host.events.clear();
  }
};

TEST_F(MainWindowLogicTest, FailedGetKeepsLabel2) {
  UsePort(0);
  printer.SetModelSetting(3);
  logic.GetButtonClick();
  ASSERT_EQ(host.label2, "QX-K40VI");
  printer.SetModelSetting(1);
  // A two-digit value is not a model-setting reply, nor is a status message that happens
  // to come first.
  for (const ReplyFault& fault : {Replace(Bytes({0x37, 0x27, 0x31, 0x32, 0x37, 0x1F, '1', '2', 0})),
                                  InsertAt(Bytes({0x12}), 0)}) {
    printer.SetFault(Command::ModelSettingQuery, fault);
    Forget();
    logic.GetButtonClick();
    EXPECT_EQ(host.label2, "QX-K40VI");
    EXPECT_EQ(host.Boxes(), (std::vector<std::string>{Failure + "This utility can't get data from printer."}));
  }
}

TEST_F(MainWindowLogicTest, IdentifyComparesNineBytesOnly) {
  UsePort(1);
  printer.SetModelName("QX-K40IV and more");
  logic.GetButtonClick();
  EXPECT_EQ(host.Boxes().back(), Success + "Getting information was successful.");

  printer.SetModelName("QX-K40VII");
  for (const std::string& wrong :
       {std::string("7MCQX-K30VII") + '\0', std::string("7MCQX-K4") + '\0', std::string("7M") + '\0',
        Bytes({0x12})}) {
    printer.SetFault(Command::Identify, Replace(wrong));
    Forget();
    logic.PrintButtonClick();
    EXPECT_EQ(host.Boxes(), (std::vector<std::string>{Failure + "Communication error.Can not recognize QX-K40VII."}));
    EXPECT_EQ(Wire(), Identify);  // no firmware query, no test print
  }
  EXPECT_TRUE(printer.PrintedLines().empty());
}

TEST_F(MainWindowLogicTest, FirmwareBeginningWithOneToFiveFails) {
  UsePort(0);
  const std::pair<const char*, bool> cases[] = {
      {"5.00", false}, {"1", false}, {"6.00", true}, {"0", true}, {"A", true}, {"", true},
  };
  for (const auto& [firmware, passes] : cases) {
    printer.SetFirmware(firmware);
    logic.GetButtonClick();
    EXPECT_EQ(host.Boxes().back(), passes ? Success + "Getting information was successful."
                                          : Failure + "Communication error.Can not recognize QX-K40VII.")
        << firmware;
  }
}

TEST_F(MainWindowLogicTest, FlowControlBytesAreDroppedEvenInsideABlock) {
  UsePort(0);
  printer.SetFaultForAll(InsertAt(Bytes({0x13, 0x11}), 3));
  printer.SetModelSetting(2);
  logic.GetButtonClick();
  EXPECT_EQ(host.label2, "QX-K40V");
  EXPECT_EQ(host.Boxes().back(), Success + "Getting information was successful.");
}

// A block that stops before its NUL, or one longer than the buffer, is no reply; the
// first after 2000 ms of silence, the second with nothing stored past the buffer.
TEST_F(MainWindowLogicTest, AnUnendedOrOverlongBlockIsNoReply) {
  UsePort(0);
  ReplyFault noNul, overlong;
  noNul.DropNul = true;
  overlong.PadTo = 600;
  for (const ReplyFault& fault : {noNul, overlong}) {
    SCOPED_TRACE(fault.DropNul ? "no NUL" : "overlong");
    printer.SetFault(Command::Identify, fault);
    OpenAndIdentify();
    std::uint8_t reply[ReplyBufferSize + 16];
    std::fill(std::begin(reply), std::end(reply), 0xEE);
    int length = -1;
    const std::int64_t before = host.now;
    EXPECT_EQ(logic.ReceiveReply(reply, length), ReplyNone);
    EXPECT_EQ(length, 0);
    for (int i = ReplyBufferSize; i < ReplyBufferSize + 16; ++i) ASSERT_EQ(reply[i], 0xEE) << i;
    if (fault.DropNul) {
      EXPECT_GE(host.now - before, 2000);  // 2000 ms of silence after the last byte
      EXPECT_LT(host.now - before, 2100);
    }
    table.Close(0);
    logic.GetButtonClick();
    EXPECT_EQ(host.Boxes().back(), Failure + "Communication error.Can not recognize QX-K40VII.");
  }
}

TEST_F(MainWindowLogicTest, EachByteOfAReplyMayTakeUpToTwoSeconds) {
  UsePort(0);
  for (const int delayMs : {1900, 2100}) {
    ReplyFault slow;
    slow.ByteDelayMs = delayMs;
    printer.SetFault(Command::Identify, slow);
    logic.GetButtonClick();
    EXPECT_EQ(host.Boxes().back(), delayMs < 2000 ? Success + "Getting information was successful."
                                                  : Failure + "Communication error.Can not recognize QX-K40VII.");
  }
}

TEST_F(MainWindowLogicTest, ReplyFraming) {
  UsePort(4);
  logic.ConfigurePortsForExchange();
  ASSERT_EQ(table.Open(4), 1);
  printer.SendUnsolicited(Bytes({0x12, 0x10, 1, 2, 3, 0x16, 0x20, 0x37, 'a', 0}));
  std::uint8_t reply[ReplyBufferSize];
  int length = 0;
  EXPECT_EQ(logic.ReceiveReply(reply, length), ReplyStatusByte);
  EXPECT_EQ(length, 1);
  EXPECT_EQ(logic.ReceiveReply(reply, length), ReplyAutoStatus);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), 4), Bytes({0x10, 1, 2, 3}));
  EXPECT_EQ(logic.ReceiveReply(reply, length), ReplyStatusByte);
  EXPECT_EQ(logic.ReceiveReply(reply, length), ReplyOther);
  EXPECT_EQ(reply[0], 0x20);
  EXPECT_EQ(logic.ReceiveReply(reply, length), ReplyBlock);
  EXPECT_EQ(length, 3);
  table.Close(4);
}

TEST(ReplyClasses, EveryByteByTheTableInItsOrder) {
  int counts[5] = {};
  for (int b = 0; b < 256; ++b) {
    int expected = ReplyOther;
    if (b == 0x11 || b == 0x13) expected = 0;
    else if ((b & 0x93) == 0x12) expected = ReplyStatusByte;
    else if ((b & 0x93) == 0x10) expected = ReplyAutoStatus;
    else if ((b & 0x91) == 0x11) expected = ReplyBlock;
    EXPECT_EQ(ClassifyReplyByte(static_cast<std::uint8_t>(b)), expected) << b;
    ++counts[ClassifyReplyByte(static_cast<std::uint8_t>(b))];
  }
  // Four, four and three free bits: a slip in a mask or a constant moves these.
  EXPECT_EQ(counts[0], 2);
  EXPECT_EQ(counts[ReplyStatusByte], 16);
  EXPECT_EQ(counts[ReplyAutoStatus], 16);
  EXPECT_EQ(counts[ReplyBlock], 30);
  EXPECT_EQ(counts[ReplyOther], 192);
}

// Each byte the prologue and the model-setting reply compare, replaced by every other
// value (but XON and XOFF, which are dropped), fails the exchange; bytes past the
// compared ones do not (a NUL there would cut the reply short and leave the rest as
// the next reply, so not that one); the model digit picks the name.
TEST_F(MainWindowLogicTest, EveryComparedByteOfTheRepliesCounts) {
  UsePort(0);
  const std::string identity = std::string("7MCQX-K40VII") + '\0';
  const std::string firmware = std::string("_6.00") + '\0';
  const std::string setting = Bytes({0x37, 0x27, 0x31, 0x32, 0x37, 0x1F, '2', 0x00});
  const std::string unrecognised = Failure + "Communication error.Can not recognize QX-K40VII.";
  const std::string noData = Failure + "This utility can't get data from printer.";
  const std::string ok = Success + "Getting information was successful.";
  const auto get = [&](Command command, const std::string& reply) {
    printer.ClearFaults();
    printer.SetFault(command, Replace(reply));
    host.events.clear();
    logic.GetButtonClick();
    return host.Boxes().size() == 1 ? host.Boxes()[0] : std::string("(no single box)");
  };
  for (int b = 0; b < 256; ++b) {
    if (b == 0x11 || b == 0x13) continue;
    const char c = static_cast<char>(b);
    for (int at = 0; at < 11; ++at) {
      std::string reply = identity;
      if (reply[at] == c || (at >= 9 && b == 0)) continue;
      reply[at] = c;
      ASSERT_EQ(get(Command::Identify, reply), at < 9 ? unrecognised : ok) << "identify byte " << at << " = " << b;
    }
    for (int at = 0; at < 2; ++at) {
      std::string reply = firmware;
      if (reply[at] == c || (at == 1 && b == 0)) continue;
      reply[at] = c;
      const bool passes = at == 1 && (b < '1' || b > '5');
      ASSERT_EQ(get(Command::Firmware, reply), passes ? ok : unrecognised) << "firmware byte " << at << " = " << b;
    }
    for (int at = 0; at < 8; ++at) {
      std::string reply = setting;
      if (reply[at] == c || (at == 6 && b == 0)) continue;
      reply[at] = c;
      ASSERT_EQ(get(Command::ModelSettingQuery, reply), at == 6 ? ok : noData) << "setting byte " << at << " = " << b;
      if (at == 6) {
        const char* name = b == '1' ? "QX-K40IV" : b == '2' ? "QX-K40V" : b == '3' ? "QX-K40VI" : "QX-K40VII";
        ASSERT_EQ(host.label2, name) << b;
      }
    }
  }
}

TEST_F(MainWindowLogicTest, ANestedReceptionReturnsAtOnce) {
  UsePort(0);
  OpenAndIdentify();
  int nestedResult = -1;
  int nestedLength = -1;
  host.onPeek = [&] {
    std::uint8_t inner[ReplyBufferSize];
    nestedResult = logic.ReceiveReply(inner, nestedLength);
    host.onPeek = nullptr;
  };
  std::uint8_t reply[ReplyBufferSize];
  int length = 0;
  EXPECT_EQ(logic.ReceiveReply(reply, length), ReplyBlock);
  EXPECT_EQ(nestedResult, ReplyNone);
  EXPECT_EQ(nestedLength, 0);
  EXPECT_EQ(length, 13);  // "7MCQX-K40VII" and its NUL
  table.Close(0);
}

TEST_F(MainWindowLogicTest, StaleInputIsFlushedBeforeTheIdentify) {
  UsePort(0);
  // The printer has sent status messages and an old reply before the exchange starts.
  Port(0).Hooks.OnOpened = [this](int) { printer.SendUnsolicited(Bytes({0x12, 0x37, 'o', 'l', 'd', 0, 0x10, 1, 2, 3})); };
  logic.GetButtonClick();
  EXPECT_EQ(host.Boxes().back(), Success + "Getting information was successful.");
}

TEST_F(MainWindowLogicTest, OpenFailureShowsOneBoxAndClosesNothing) {
  UsePort(3);
  printer.SetPowered(false);
  logic.GetButtonClick();
  EXPECT_EQ(host.events, (std::vector<std::string>{Failure + "This utility can't open communication port."}));
  EXPECT_EQ(Wire(), "");
}

// Whichever write of an exchange fails, nothing after it is sent, the port is closed
// before the one box says so, and the controls are usable again. Throughout, every short sleep
// of an exchange is a fine one and no box waits with fine sleeps on.
TEST_F(MainWindowLogicTest, EachWriteOfEachExchangeCanFail) {
  UsePort(0);
  const std::string setWrites[] = {Identify, Firmware, Enter, Bytes(WriteModelSetting(0x00)), Leave, Query};
  struct Exchange {
    const char* name;
    void (MainWindowLogic::*click)();
    std::vector<std::string> writes;
    const char* success;
  };
  const Exchange exchanges[] = {
      {"Get", &MainWindowLogic::GetButtonClick, {Identify, Firmware, Query}, "Getting information was successful."},
      {"Print", &MainWindowLogic::PrintButtonClick, {Identify, Firmware, TestPrint}, "Test print was successful."},
      {"Set", &MainWindowLogic::SetButtonClick, {std::begin(setWrites), std::end(setWrites)},
       "The setting change succeeded."},
  };
  for (const Exchange& exchange : exchanges) {
    for (int failing = 0; failing <= static_cast<int>(exchange.writes.size()); ++failing) {
      SCOPED_TRACE(std::string(exchange.name) + ", failing write " + std::to_string(failing));
      Forget();
      // Set disables every control for its run, box included, and enables them all after.
      const bool isSet = exchange.click == &MainWindowLogic::SetButtonClick;
      std::vector<bool> enabledAfter(std::begin(host.enabled), std::end(host.enabled));
      if (isSet) enabledAfter.assign(ControlCount, true);
      const std::vector<bool> enabledAtBox = isSet ? std::vector<bool>(ControlCount, false) : enabledAfter;
      Port(0).FailWriteNumber = failing == 0 ? 0 : Port(0).Writes + failing;
      (logic.*exchange.click)();
      std::string sent;
      for (int i = 0; i < static_cast<int>(exchange.writes.size()) && (failing == 0 || i < failing - 1); ++i) {
        sent += exchange.writes[i];
      }
      EXPECT_EQ(Wire(), sent);
      EXPECT_EQ(host.Boxes(), (std::vector<std::string>{failing == 0 ? Success + exchange.success
                                                                     : Failure + "This utility can't send data to printer."}));
      EXPECT_FALSE(Port(0).IsOpen());
      ASSERT_GE(host.events.size(), 2u);
      EXPECT_EQ(host.events.end()[-2], "close 0");
      EXPECT_EQ(std::vector<bool>(std::begin(host.enabled), std::end(host.enabled)), enabledAfter);
      EXPECT_EQ(host.enabledAtLastBox, enabledAtBox);
      EXPECT_FALSE(host.fineSleeps);
      EXPECT_EQ(host.boxesWithFineSleeps, 0);
      EXPECT_EQ(host.shortSleepsWithoutFineSleeps, 0);
    }
  }
}

TEST_F(MainWindowLogicTest, PrintTestSendsExactlyThirtyNineBytes) {
  UsePort(5);
  logic.PrintButtonClick();
  EXPECT_EQ(Wire(), Identify + Firmware + TestPrint);
  EXPECT_EQ(TestPrint.size(), 39u);
  EXPECT_EQ(TestPrint.substr(37), Bytes({0x0A, 0x00}));
  EXPECT_EQ(printer.PrintedLines(), (std::vector<std::string>{"QX-K40VII Setting Utility Test Print."}));
  EXPECT_EQ(host.events, (std::vector<std::string>{"open 5", "close 5", Success + "Test print was successful."}));
  EXPECT_EQ(host.label2, "");
}

TEST_F(MainWindowLogicTest, PortServiceKindPollsWithoutPausing) {
  UsePort(5);
  ReplyFault noNul;
  noNul.DropNul = true;  // never ends: the wait must still end after 2000 ms
  printer.SetFault(Command::Firmware, noNul);
  host.msPerClockRead = 1;
  logic.GetButtonClick();
  EXPECT_EQ(host.sleptMs, 0);
  EXPECT_EQ(host.Boxes().back(), Failure + "Communication error.Can not recognize QX-K40VII.");
}

// Set.

TEST_F(MainWindowLogicTest, SetWritesTheValueOfTheCheckedRadioButton) {
  UsePort(0);
  const std::pair<Control, std::uint8_t> cases[] = {
      {Control::K40VRadioButton, 0x03}, {Control::K40IVRadioButton, 0x02}, {Control::K40VIRadioButton, 0x00}};
  for (auto [radio, value] : cases) {
    std::fill(std::begin(host.checked), std::end(host.checked), false);
    host.checked[static_cast<int>(radio)] = true;
    Forget();
    logic.SetButtonClick();
    EXPECT_EQ(Wire(), Identify + Firmware + Enter + Bytes(WriteModelSetting(value)) + Leave + Query);
    EXPECT_EQ(printer.ModelSetting(), value);
    EXPECT_EQ(host.label2, ModelNameForDigit(static_cast<std::uint8_t>('0' + value)));
    EXPECT_EQ(host.Boxes(), (std::vector<std::string>{Success + "The setting change succeeded."}));
  }
}

// 40 s, on the network 60 s.
TEST_F(MainWindowLogicTest, SetWaitsForTheRestartWithTheControlsDisabled) {
  host.checked[static_cast<int>(Control::K40IVRadioButton)] = true;
  for (const auto& [kind, waitMs] : {std::pair{1, 40000}, std::pair{3, 60000}}) {
    SCOPED_TRACE(kind);
    UsePort(kind, "PORT" + std::to_string(kind));
    host.events.clear();
    host.progressSeen.clear();
    int refusedCloses = 0;
    std::int64_t waitStart = -1;
    host.onProcessMessages = [&] {
      if (waitStart < 0) waitStart = host.now;
      if (!logic.CanClose()) ++refusedCloses;
      for (int c = 0; c < ControlCount; ++c) ASSERT_FALSE(host.enabled[c]);
    };
    logic.SetButtonClick();
    EXPECT_GT(refusedCloses, 0);
    EXPECT_EQ(host.progress, 100);
    EXPECT_EQ(host.progressSeen.front(), 0);
    EXPECT_EQ(host.progressSeen.size(), 101u);  // every percent on the way, then 100
    EXPECT_GE(host.now - waitStart, waitMs - 1);
    EXPECT_LT(host.now - waitStart, waitMs + 1000);
    const std::string open = "open " + std::to_string(kind), close = "close " + std::to_string(kind);
    EXPECT_EQ(host.events, (std::vector<std::string>{open, close, open, close, Success + "The setting change succeeded."}));
    EXPECT_EQ(host.label2, "QX-K40V");
    for (int c = 0; c < ControlCount; ++c) EXPECT_TRUE(host.enabled[c]) << c;
    EXPECT_TRUE(logic.CanClose());
  }
}

// After the wait the port is opened again up to three times, 2, 4 and 6 s apart.
TEST_F(MainWindowLogicTest, ReopenSucceedsAtTheThirdAttemptOrNotAtAll) {
  UsePort(2);
  printer.SetRestartMs(45000);  // back between the second and the third attempt
  logic.SetButtonClick();
  EXPECT_EQ(host.events, (std::vector<std::string>{"open 2", "close 2", "sleep 2000", "sleep 4000", "open 2",
                                                   "close 2", Success + "The setting change succeeded."}));
  EXPECT_EQ(Port(2).Opens, 4);
  EXPECT_EQ(Wire().substr(Wire().size() - Query.size()), Query);

  printer.SetRestartMs(60000);
  Forget();
  logic.SetButtonClick();
  EXPECT_EQ(host.events, (std::vector<std::string>{"open 2", "close 2", "sleep 2000", "sleep 4000", "sleep 6000",
                                                   Failure + "This utility can't open communication port."}));
  for (int c = 0; c < ControlCount; ++c) EXPECT_TRUE(host.enabled[c]) << c;
}

// Status messages before the confirmation are skipped; when the printer sends them
// without end, the wait for the confirmation still ends.
TEST_F(MainWindowLogicTest, StatusMessagesAfterTheRestartAreSkippedWithinABound) {
  UsePort(0);
  host.checked[static_cast<int>(Control::K40VRadioButton)] = true;
  printer.SetFault(Command::ModelSettingQuery,
                   InsertAt(Bytes({0x12, 0x10, 0, 0, 0, 0x20, 0x5F, 'x', 0, 0x16}), 0));
  logic.SetButtonClick();
  EXPECT_EQ(host.label2, "QX-K40VI");
  EXPECT_EQ(host.Boxes(), (std::vector<std::string>{Success + "The setting change succeeded."}));

  printer.SetFault(Command::ModelSettingQuery, InsertAt(std::string(200000, '\x12'), 0));
  host.msPerClockRead = 1;
  logic.SetButtonClick();
  EXPECT_EQ(host.Boxes().back(), Failure + "This utility can't get data from printer.");
}

TEST_F(MainWindowLogicTest, AWrongAnswerToSettingModeStopsBeforeAnyValueIsWritten) {
  UsePort(0);
  printer.SetFault(Command::EnterSettingMode, Replace(std::string("7!") + '\0'));
  logic.SetButtonClick();
  EXPECT_EQ(Wire(), Identify + Firmware + Enter);
  EXPECT_EQ(host.events,
            (std::vector<std::string>{"open 0", "close 0", Failure + "This utility can't get data from printer."}));
  for (int c = 0; c < ControlCount; ++c) EXPECT_TRUE(host.enabled[c]) << c;
}

// Port list and controls.

TEST_F(MainWindowLogicTest, ConstructionDefaultsAndTimeouts) {
  const PortSettings& current = logic.CurrentSettings();
  EXPECT_EQ(current.PortType, 0);
  EXPECT_EQ(current.SyncMode, 1);
  EXPECT_EQ(current.BaudCode, 4);
  EXPECT_EQ(current.DataBits, 8);
  EXPECT_EQ(current.IpAddress[0], 192);
  EXPECT_EQ(current.IpAddress[3], 168);
  // The last configured row's time-outs stay in CurrentSettings.
  EXPECT_EQ(current.ReadTimeoutMultiplier, 50u);
  EXPECT_EQ(current.ReadTimeoutConstant, 100u);
  EXPECT_EQ(current.WriteTimeoutConstant, 2000u);
  EXPECT_EQ(Port(0).LastSettings.ReadTimeoutConstant, 0u);
  EXPECT_EQ(Port(0).LastSettings.WriteTimeoutConstant, 2000u);
  EXPECT_EQ(Port(1).LastSettings.ReadTimeoutMultiplier, 50u);
  EXPECT_EQ(Port(2).LastSettings.ReadTimeoutMultiplier, 0u);
  EXPECT_EQ(table.CreateCount(), 6);
}

// Before each exchange every kind gets the selected entry with its own row of
// time-outs; the serial write time-out follows the speed.
TEST_F(MainWindowLogicTest, EveryPortIsConfiguredWithTheSelectedEntryBeforeAnExchange) {
  // Read multiplier and constant, write multiplier and constant.
  using Row = std::array<std::uint32_t, 4>;
  for (int baud = -1; baud <= 9; ++baud) {
    PortSettings com = logic.CurrentSettings();
    com.PortType = 0;
    com.BaudCode = baud;
    com.PortNumber = 7;
    logic.AddPortEntry("COM8", com);
    logic.PortComboBoxChange();
    logic.GetButtonClick();
    const std::uint32_t serialWrite = baud == 0 || baud == 1 ? 8000 : baud == 2 ? 4000 : 2000;
    const Row rows[PortKindCount] = {
        {0, 10, 0, serialWrite}, {0, 0, 0, 2000}, {0, 10, 0, 2000}, {50, 100, 0, 2000}, {50, 100, 0, 2000},
        {50, 100, 0, 2000}};
    for (int kind = 0; kind < PortKindCount; ++kind) {
      const PortSettings& got = Port(kind).LastSettings;
      EXPECT_EQ(got.PortNumber, 7) << kind;
      EXPECT_EQ(got.BaudCode, baud) << kind;
      EXPECT_EQ((Row{got.ReadTimeoutMultiplier, got.ReadTimeoutConstant, got.WriteTimeoutMultiplier,
                     got.WriteTimeoutConstant}),
                rows[kind])
          << "kind " << kind << ", speed code " << baud;
    }
    EXPECT_EQ(SerialWriteTimeout(baud), serialWrite) << baud;
    EXPECT_EQ(logic.CurrentSettings().PortNumber, 7);
  }
}

TEST_F(MainWindowLogicTest, ControlStatesFollowTheList) {
  EXPECT_TRUE(logic.IsEnabled(Control::AddButton));
  EXPECT_TRUE(logic.IsEnabled(Control::K40VIRadioButton));
  logic.PortComboBoxChange();  // empty list
  const Control needAPort[] = {Control::GetButton, Control::SetButton, Control::PrintButton,
                               Control::K40VRadioButton, Control::K40IVRadioButton};
  for (Control c : needAPort) EXPECT_FALSE(logic.IsEnabled(c));
  EXPECT_TRUE(logic.IsEnabled(Control::AddButton));
  EXPECT_TRUE(logic.IsEnabled(Control::ExitButton));
  EXPECT_TRUE(logic.IsEnabled(Control::K40VIRadioButton));
  EXPECT_TRUE(logic.CanClose());

  UsePort(0);
  for (Control c : needAPort) EXPECT_TRUE(logic.IsEnabled(c));
  host.label2 = "QX-K40V";
  logic.SelectPort(0);
  logic.PortComboBoxChange();
  EXPECT_EQ(host.label2, "");
}

TEST_F(MainWindowLogicTest, TheListHoldsAtMost129Entries) {
  PortSettings settings = logic.CurrentSettings();
  for (int i = 0; i < 129; ++i) logic.AddPortEntry("10.0.0." + std::to_string(i), settings);
  EXPECT_EQ(logic.Ports().Count(), 129);
  EXPECT_EQ(host.selected, 128);
  logic.AddPortEntry("10.0.1.0", settings);
  EXPECT_EQ(logic.Ports().Count(), 129);
  EXPECT_EQ(host.items.size(), 129u);
  EXPECT_EQ(host.selected, 128);
  EXPECT_EQ(logic.Ports().Selected(), 128);
  logic.AddPortEntry("", settings);
  EXPECT_EQ(logic.Ports().Count(), 129);
  // A full list still updates and selects a listed name.
  settings.BaudCode = 7;
  logic.AddPortEntry("10.0.0.5", settings);
  EXPECT_EQ(host.selected, 5);
  EXPECT_EQ(logic.Ports().Entry(5).BaudCode, 7);
}

// A whole record as its bytes (the record has no padding), to compare every field.
using RecordBytes = std::array<std::uint8_t, sizeof(PortSettings)>;
RecordBytes Fields(const PortSettings& r) { return std::bit_cast<RecordBytes>(r); }
// A record whose every byte differs from that of any other `seed` (1 or 2: no field is
// negative).
PortSettings Distinct(int seed) {
  RecordBytes bytes;
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(seed * 32 + i);
  return std::bit_cast<PortSettings>(bytes);
}

TEST_F(MainWindowLogicTest, AddingAListedNameUpdatesOnlySpeedAndParity) {
  const PortSettings first = Distinct(1), second = Distinct(2);
  logic.AddPortEntry("COM3", first);
  logic.AddPortEntry("LPT1", first);
  logic.AddPortEntry("COM3", second);
  EXPECT_EQ(logic.Ports().Count(), 2);
  EXPECT_EQ(host.selected, 0);
  PortSettings expected = first;
  expected.BaudCode = second.BaudCode;
  expected.ParityCode = second.ParityCode;
  EXPECT_EQ(Fields(logic.Ports().Entry(0)), Fields(expected));
  EXPECT_EQ(Fields(logic.Ports().Entry(1)), Fields(first));
  logic.AddPortEntry("com3", second);  // names compare case-sensitively
  EXPECT_EQ(logic.Ports().Count(), 3);
  EXPECT_EQ(Fields(logic.Ports().Entry(2)), Fields(second));
}

TEST_F(MainWindowLogicTest, UsbDevicesShareOneRunningNumber) {
  logic.AddUsbDevices({0}, {0, 2});
  EXPECT_EQ(host.items, (std::vector<std::string>{"USB-000", "USB PRN-001", "USB PRN-002"}));
  EXPECT_EQ(host.selected, 2);
  EXPECT_EQ(logic.Ports().Entry(0).PortType, 2);
  EXPECT_EQ(logic.Ports().Entry(0).DeviceNumber, 0);
  EXPECT_EQ(logic.Ports().Entry(1).PortType, 4);
  EXPECT_EQ(logic.Ports().Entry(1).DeviceNumber, 0);  // its index among printer-class interfaces
  EXPECT_EQ(logic.Ports().Entry(2).DeviceNumber, 2);
}

TEST_F(MainWindowLogicTest, DestroyPortsReleasesEveryPort) {
  logic.DestroyPorts();
  EXPECT_EQ(table.CreateCount(), 0);
  for (int kind = 0; kind < PortKindCount; ++kind) EXPECT_EQ(table.At(kind), nullptr);
  logic.CreatePorts(nullptr);  // for TearDown
}

}  // namespace
}  // namespace qx
