// A seeded fault soak: a random sequence of Get, Print Test and Set through the main
// window's logic and the real port table, over the vendor USB and printer-class kinds
// (on their simulated drivers) and the network kind (qxsim's TCP and UDP servers on a
// loopback address of its own), all with one simulated printer behind them. Each
// exchange may draw a fault from the simulator's menu: silence, a late or wrong reply,
// status bytes inside replies, slow bytes, a hang-up in the middle of a reply, the
// device pulled out (before, during a reply, during the restart after a model change),
// and on the network a silent, split, "not ready" or overlong status answer.
//
// After every exchange: exactly one message box with the text the fault calls for, the
// label as it must be, the exchange ended within its bound, every port closed with no
// driver handle left, and the printer took exactly the commands the exchange sent,
// once each and in order (the network kind's Write is asynchronous). At the end: no
// growth in file descriptors or live memory.
//
// QX_SOAK_EXCHANGES (default 300) and QX_SOAK_SEED (default 1) choose the run, and
// QX_SOAK_VERBOSE=1 lists each exchange; scripts/soak runs long ones. A failure names
// its seed and exchange.
//
// Time: one paced clock for the window, the drivers and the printer. It stands still
// between sleeps for the simulated USB devices (their waits cost no real time) and
// runs at twice real time for the network, whose bytes cross real sockets.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/fake_host.h"
#include "app/main_window_logic.h"
#include "net/net_test_support.h"
#include "port/net/net_port.h"
#include "port/placeholder_port.h"
#include "port/usb/usb_port.h"
#include "port/usb/usb_printer.h"
#include "process_resources.h"
#include "sim/transport/simulated_printer.h"
#include "support/wait_until.h"
#include "support/paced_clock.h"
#include "sim/usb/simulated_usb.h"

namespace qx {
namespace {

using sim::Bytes;
using sim::Command;

constexpr Ipv4Address PrinterAddress{127, 15, 1, 1};
// The network's bytes need real time to cross; the margin is generous.
constexpr int NetworkSpeed = 2;
constexpr int NetworkMaxRealSleepMs = 50;

enum class Kind { Vendor, PrinterClass, Network };  // also the port list's items
enum class Exchange { Get, Print, Set };
enum class Fault {
  None,
  Silent,        // the reply to the target command never comes
  Late,          // it comes after the 2000 ms a byte may take
  Wrong,         // another reply instead
  FlowInside,    // XON/XOFF inside the reply
  StatusAhead,   // a status byte ahead of it
  Slow,          // each byte a while after the one before, within the limit
  HangUp,        // the link hangs up in the middle of the reply
  PulledBefore,  // the device is gone (the printer switched off) before the exchange
  PulledInReply, // ... while the first reply arrives
  PulledInRestart,  // ... while the printer restarts after a model change
  UdpSilent,     // the status probe goes unanswered
  UdpSplit,      // its answer comes in pieces
  UdpNotReady,   // it answers "not ready"
  UdpOverlong,   // its answer announces more data than it carries, once
};
constexpr int FaultKinds = 15;

const char* Name(Kind k) {
  return k == Kind::Vendor ? "vendor USB" : k == Kind::PrinterClass ? "USB printer class" : "network";
}
const char* Name(Exchange e) { return e == Exchange::Get ? "Get" : e == Exchange::Print ? "Print Test" : "Set"; }
const char* Name(Fault f) {
  static const char* const names[FaultKinds] = {
      "none",          "silent",       "late",          "wrong reply",        "XON/XOFF inside", "status byte ahead",
      "slow bytes",    "hang-up",      "pulled before", "pulled in a reply",  "pulled in the restart",
      "udp silent",    "udp split",    "udp not ready", "udp overlong"};
  return names[static_cast<int>(f)];
}

bool IsCommandFault(Fault f) { return f >= Fault::Silent && f <= Fault::HangUp; }
bool IsUdpFault(Fault f) { return f >= Fault::UdpSilent; }

struct Step {
  Kind kind = Kind::Vendor;
  Exchange exchange = Exchange::Get;
  Fault fault = Fault::None;
  Command target = Command::Identify;  // of a command fault
  int slowMs = 0;                      // byte delay of Slow
  std::uint8_t model = ModelValueK40VII;  // what Set writes

  std::string Text() const {
    std::string text = std::string(Name(exchange)) + " on " + Name(kind) + ", fault " + Name(fault);
    if (IsCommandFault(fault)) text += std::string(" on ") + sim::CommandName(target);
    return text;
  }
};

// What the exchange must end with, and the commands the printer must have taken.
struct Outcome {
  const char* message = nullptr;
  std::vector<Bytes> commands;
};

Bytes Of(const std::array<std::uint8_t, 9>& a) { return Bytes(a.begin(), a.end()); }

Outcome Expect(const Step& s) {
  const bool commandFails = IsCommandFault(s.fault) && s.fault != Fault::FlowInside && s.fault != Fault::Slow;
  auto fails = [&](Command c) { return commandFails && s.target == c; };
  Outcome o;
  if (s.fault == Fault::PulledBefore || s.fault == Fault::UdpSilent || s.fault == Fault::UdpOverlong) {
    o.message = MessageCannotOpen;
    return o;
  }
  o.commands.push_back(sim::wire::Identify());
  if (s.fault == Fault::PulledInReply) {
    // Gone in the middle of the identify reply: the vendor driver and the network hand
    // bytes over as they come and the rest never does; the printer class has the whole
    // reply in its first unit, and the next command cannot be sent.
    o.message = s.kind == Kind::PrinterClass ? MessageCannotSend : MessageNotRecognised;
    return o;
  }
  if (fails(Command::Identify)) {
    o.message = MessageNotRecognised;
    return o;
  }
  o.commands.push_back(sim::wire::FirmwareQuery());
  if (fails(Command::Firmware)) {
    o.message = MessageNotRecognised;
    return o;
  }
  switch (s.exchange) {
    case Exchange::Get:
      o.commands.push_back(sim::wire::ModelSettingQuery());
      o.message = fails(Command::ModelSettingQuery) ? MessageCannotGet : MessageGetSucceeded;
      return o;
    case Exchange::Print:
      o.commands.push_back(Bytes(TestPrintText, TestPrintLength));
      o.message = MessagePrintSucceeded;
      return o;
    case Exchange::Set:
      o.commands.push_back(sim::wire::EnterSettingMode());
      if (fails(Command::EnterSettingMode)) {
        o.message = MessageCannotGet;
        return o;
      }
      o.commands.push_back(Of(WriteModelSetting(s.model)));
      o.commands.push_back(sim::wire::LeaveSettingMode());
      if (s.fault == Fault::PulledInRestart) {
        o.message = MessageCannotOpen;
        return o;
      }
      o.commands.push_back(sim::wire::ModelSettingQuery());
      // The confirmation passes over status messages ahead of the model reply.
      o.message = fails(Command::ModelSettingQuery) && s.fault != Fault::StatusAhead ? MessageCannotGet
                                                                                     : MessageSetSucceeded;
      return o;
  }
  return o;
}

// The longest the exchange may take, on the clock: the waits the exchange allows.
std::int64_t Bound(const Step& s) {
  const bool network = s.kind == Kind::Network;
  // Loopback crossing time counts at twice its real length on the network.
  const std::int64_t slack = network ? 4000 : 500;
  const std::int64_t open = (network ? TNetStatusChannel::ReplyWaitMs + TQXNET::SettleMs : 0) + slack;
  const std::int64_t close = network ? TQXNET::SettleMs : 0;
  // 2000 ms for the byte that does not come, the discarding reads and the last poll.
  std::int64_t reply = 2600;
  if (s.fault == Fault::Slow) reply += 16 * s.slowMs;
  const std::int64_t restart = network ? 60000 : 40000;
  const std::int64_t reopen = 2000 + 4000 + 6000 + 4 * open;
  const std::int64_t confirmation = 30000 + reply;
  switch (s.exchange) {
    case Exchange::Get: return open + 3 * reply + close;
    case Exchange::Print: return open + 2 * reply + close;
    case Exchange::Set: return open + 3 * reply + close + restart + reopen + confirmation + close;
  }
  return 0;
}

// The window on the soak's clock. Dispatching the messages of the restart wait takes
// its time too, so that a 60 s wait is not 60000 polls.
class SoakHost final : public test::FakeHost {
 public:
  explicit SoakHost(test::PacedClock& clock) : clock_(clock) {}
  std::int64_t ElapsedMilliseconds() override { return clock_.NowMilliseconds(); }
  void Sleep(int ms) override { clock_.SleepMilliseconds(ms); }
  void ProcessMessages() override {
    FakeHost::ProcessMessages();
    clock_.Advance(499);
  }

 private:
  test::PacedClock& clock_;
};

int EnvInt(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::atoi(text) : fallback;
}

class ReliabilityFaultSoak : public ::testing::Test {
 protected:
  test::PacedClock clock{NetworkSpeed, false, NetworkMaxRealSleepMs};
  // The simulated drivers' time is the soak's clock.
  Clock& time{clock};
  SoakHost host{clock};
  std::unique_ptr<sim::SimulatedPrinter> printer;
  std::unique_ptr<test::SimVendorUsbDriver> vendor;
  std::unique_ptr<test::SimUsbPrintDriver> printerClass;
  std::unique_ptr<PortTable> table;
  std::unique_ptr<MainWindowLogic> logic;

  void SetUp() override {
    sim::SimulatedPrinterOptions options;
    options.Address = PrinterAddress;
    options.Printer.RestartMs = 5000;
    options.TimeSource = &clock;
    printer = std::make_unique<sim::SimulatedPrinter>(options);
    std::string error;
    ASSERT_TRUE(printer->Start(&error)) << error;
    vendor = std::make_unique<test::SimVendorUsbDriver>(time, Engine());
    printerClass = std::make_unique<test::SimUsbPrintDriver>(time, Engine());
    vendor->AddDevice(0);
    printerClass->AddPrinter();
    table = std::make_unique<PortTable>([this](int kind) -> std::unique_ptr<TQXCCC> {
      if (kind == KindVendorUsb) return std::make_unique<TQXUSB>(kind, *vendor);
      if (kind == KindUsbPrinter) return std::make_unique<TQXUSBPRN>(kind, *printerClass);
      if (kind == KindNetwork) return std::make_unique<TQXNET>(kind, TQXNET::WindowSource{}, clock);
      return std::make_unique<TPlaceholderPort>(kind, kind);
    });
    logic = std::make_unique<MainWindowLogic>(*table, host);
    logic->CreatePorts(nullptr);
    logic->AddUsbDevices({0}, {0});
    test::SelectNetworkPrinter(*logic, PrinterAddress);
    logic->SetControlsEnabled(true);
  }
  void TearDown() override {
    if (logic) logic->DestroyPorts();
    logic.reset();
    table.reset();
    printerClass.reset();
    vendor.reset();
    printer.reset();
  }

  sim::PrinterEngine& Engine() { return printer->Printer(); }

  Step Draw(std::mt19937& random) {
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    Step s;
    s.kind = static_cast<Kind>(pick(3));
    s.exchange = static_cast<Exchange>(pick(3));
    s.model = std::array<std::uint8_t, 3>{ModelValueK40VII, ModelValueK40V, ModelValueK40VI}[pick(3)];
    if (pick(2) == 0) return s;  // half the exchanges run clean
    const int choices = s.kind == Kind::Network ? FaultKinds - 1 : FaultKinds - 5;
    s.fault = static_cast<Fault>(1 + pick(choices));
    std::vector<Command> targets{Command::Identify, Command::Firmware};
    if (s.exchange != Exchange::Print) targets.push_back(Command::ModelSettingQuery);
    if (s.exchange == Exchange::Set) targets.push_back(Command::EnterSettingMode);
    s.target = targets[pick(static_cast<int>(targets.size()))];
    s.slowMs = 20 + pick(300);
    return s;
  }

  void Inject(const Step& s) {
    sim::ReplyFault reply;
    switch (s.fault) {
      case Fault::Silent: reply.Silent = true; break;
      case Fault::Late: reply.DelayMs = 2500; break;
      case Fault::Wrong:
        reply.Replace = s.target == Command::Identify   ? Bytes("7MCQY-K40VII", 13)
                        : s.target == Command::Firmware ? Bytes("_5.00", 6)
                        : s.target == Command::EnterSettingMode ? Bytes("7!", 3)
                                                                : Bytes("7'12X\x1F" "0", 8);
        break;
      case Fault::FlowInside:
        reply.Insert = Bytes{sim::wire::Xon, sim::wire::Xoff};
        reply.InsertAt = 2;
        break;
      case Fault::StatusAhead: reply.Insert = sim::wire::StatusByte(); break;
      case Fault::Slow: reply.ByteDelayMs = s.slowMs; break;
      case Fault::HangUp: reply.DisconnectAfter = 2; break;
      default: break;
    }
    if (IsCommandFault(s.fault)) Engine().SetFault(s.target, reply);

    sim::DatagramFault datagram;
    datagram.Count = s.fault == Fault::UdpOverlong ? 1 : -1;
    switch (s.fault) {
      case Fault::UdpSilent: datagram.Silent = true; break;
      case Fault::UdpSplit: datagram.SplitAt = {3, 9, 15}; break;
      case Fault::UdpNotReady: datagram.Data = Bytes(1, '\x01'); break;
      case Fault::UdpOverlong: datagram.AnnouncedLength = 0xFFFF; break;
      default: break;
    }
    if (IsUdpFault(s.fault)) printer->Zemak().SetFault(sim::ZemakRequest::QueryReady, datagram);

    if (s.fault == Fault::PulledBefore) SetPresent(s.kind, false);
    if (s.fault == Fault::PulledInReply) {
      host.onPeek = [this, kind = s.kind, peeks = 0]() mutable {
        if (++peeks == 4) SetPresent(kind, false);
      };
    }
    if (s.fault == Fault::PulledInRestart) host.onProcessMessages = [this, kind = s.kind] { SetPresent(kind, false); };
  }

  void SetPresent(Kind kind, bool present) {
    switch (kind) {
      case Kind::Vendor: vendor->Change(0, [present](test::VendorDevice& d) { d.Present = present; }); break;
      case Kind::PrinterClass: printerClass->Change(0, [present](test::UsbPrinter& p) { p.Present = present; }); break;
      case Kind::Network: Engine().SetPowered(present); break;
    }
  }

  // Everything as before the fault: devices back with fresh links (a link that hung up
  // stays down), the printer on, no fault left, and the records of the simulators and
  // the fake window emptied (they are not the utility's memory).
  void Restore(const Step& s) {
    host.onPeek = nullptr;
    host.onProcessMessages = nullptr;
    Engine().ClearFaults();
    printer->Zemak().ClearFaults();
    Engine().SetPowered(true);
    auto fresh = [this](auto& device) {
      device.Present = true;
      device.Link = std::make_unique<sim::HostLink>(Engine());
      device.ReadSizes.clear();
      device.ReadSizes.shrink_to_fit();
    };
    vendor->Change(0, [&](test::VendorDevice& d) { fresh(d); });
    printerClass->Change(0, [&](test::UsbPrinter& p) { fresh(p); });
    // A restart or power cut that came and went on the clock may have closed the
    // printer's TCP port for a moment: its server opens it again within its poll.
    if (s.exchange == Exchange::Set || (s.kind == Kind::Network && s.fault >= Fault::PulledBefore)) {
      SleepMilliseconds(25);
      test::WaitUntil([&] { return printer->Tcp()->Listening(); });
    }
    Engine().ClearLog();
    Engine().ClearPrinted();
    printer->Zemak().ClearLog();
    vendor->ClearLog();
    printerClass->ClearLog();
    std::vector<std::string>().swap(host.events);
    std::vector<int>().swap(host.progressSeen);
  }

  void Run(const Step& s) {
    clock.SetRunning(s.kind == Kind::Network);
    host.events.clear();
    for (int c = 0; c < ControlCount; ++c) host.checked[c] = false;
    if (s.model == ModelValueK40V) host.checked[static_cast<int>(Control::K40IVRadioButton)] = true;
    if (s.model == ModelValueK40VI) host.checked[static_cast<int>(Control::K40VRadioButton)] = true;
    logic->SelectPort(static_cast<int>(s.kind));
    logic->PortComboBoxChange();
    switch (s.exchange) {
      case Exchange::Get: logic->GetButtonClick(); break;
      case Exchange::Print: logic->PrintButtonClick(); break;
      case Exchange::Set: logic->SetButtonClick(); break;
    }
  }

  // The invariants after one exchange; false when one failed.
  bool Check(const Step& s, const Outcome& want, const std::string& modelBefore, std::int64_t took) {
    const std::size_t failures = Failures();
    EXPECT_EQ(host.Boxes(), std::vector<std::string>{test::BoxLine(want.message)});
    const std::string message = want.message;
    std::string label;
    if (message == MessageGetSucceeded) label = modelBefore;
    if (message == MessageSetSucceeded) label = ModelNameForDigit(sim::SettingDigit(s.model));
    EXPECT_EQ(logic->Label2(), label);
    EXPECT_LE(took, Bound(s));
    EXPECT_TRUE(logic->CanClose());
    for (int kind = 0; kind < PortKindCount; ++kind) EXPECT_EQ(table->At(kind)->IsOpen(), 0) << "kind " << kind;
    EXPECT_EQ(vendor->OpenHandles(), 0);
    EXPECT_EQ(printerClass->OpenHandles(), 0);
    auto* net = static_cast<TQXNET*>(table->At(KindNetwork));
    EXPECT_EQ(net->GetHandle(), InvalidSocketHandle);
    EXPECT_FALSE(net->HasWorkers());

    // Once each and in order; the network's bytes may still be crossing to the printer.
    Bytes sent;
    for (const Bytes& command : want.commands) sent += command;
    test::WaitUntil([&] { return Engine().HostBytes().size() >= sent.size(); }, std::chrono::seconds(5));
    if (s.kind == Kind::Network) SleepMilliseconds(10);  // nothing more may follow
    EXPECT_EQ(sim::HexText(Engine().HostBytes()), sim::HexText(sent));
    if (Failures() != failures) {
      std::printf("the printer's log of the exchange:\n");
      for (const auto& e : Engine().Log()) std::printf("%s\n", sim::FormatLogEntry(e).c_str());
      for (const auto& e : printer->Zemak().Log()) std::printf("%s\n", sim::FormatZemakLogEntry(e).c_str());
    }
    return Failures() == failures;
  }

  static std::size_t Failures() {
    const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    std::size_t failed = 0;
    for (int i = 0; i < result->total_part_count(); ++i) failed += result->GetTestPartResult(i).failed() ? 1 : 0;
    return failed;
  }
};

TEST_F(ReliabilityFaultSoak, SeededExchangesEndWithTheirOneMessageAndLeaveNothingBehind) {
  const int exchanges = EnvInt("QX_SOAK_EXCHANGES", 300);
  const unsigned seed = static_cast<unsigned>(EnvInt("QX_SOAK_SEED", 1));
  const int warmUp = std::min(40, exchanges / 4);
  const bool verbose = EnvInt("QX_SOAK_VERBOSE", 0) != 0;
  std::mt19937 random(seed);
  std::map<std::string, int> drawn;
  long handlesBefore = 0;
  std::size_t memoryBefore = 0;
  const std::int64_t start = SteadyMilliseconds();

  for (int i = 0; i < exchanges; ++i) {
    if (i == warmUp) {
      handlesBefore = test::OpenHandleCount();
      memoryBefore = test::HeapBytes();
    }
    const Step step = Draw(random);
    ++drawn[Name(step.fault)];

    SCOPED_TRACE("exchange " + std::to_string(i) + " of " + std::to_string(exchanges) + ": " + step.Text() +
                 " (replay: scripts/soak " + std::to_string(exchanges) + " " + std::to_string(seed) + ")");
    const std::string modelBefore = ModelNameForDigit(sim::SettingDigit(Engine().ModelSetting()));
    const Outcome want = Expect(step);
    Inject(step);
    const std::int64_t begun = clock.NowMilliseconds();
    const std::int64_t realBegun = SteadyMilliseconds();
    Run(step);
    const std::int64_t took = clock.NowMilliseconds() - begun;
    if (verbose) {
      std::printf("%d: %s: %lld ms on the clock, %lld ms real, %zu bytes live\n", i, step.Text().c_str(),
                  static_cast<long long>(took), static_cast<long long>(SteadyMilliseconds() - realBegun),
                  test::HeapBytes());
    }
    const bool held = Check(step, want, modelBefore, took);
    Restore(step);
    // The operator's pause before the next press: late replies come due meanwhile.
    clock.Advance(5000);
    ASSERT_TRUE(held) << "soak failed at exchange " << i << " with seed " << seed;
  }

  // The simulated printer's server closes its side of the last connections on its own.
  EXPECT_TRUE(test::WaitUntil([&] { return test::OpenHandleCount() <= handlesBefore; }, std::chrono::seconds(5)))
      << "file descriptors " << handlesBefore << " -> " << test::OpenHandleCount();
  const std::size_t memoryAfter = test::HeapBytes();
  EXPECT_LT(memoryAfter, memoryBefore + test::HeapAllowance)
      << "memory " << memoryBefore << " -> " << memoryAfter << " bytes";

  std::string figures;
  int faulted = 0;
  for (const auto& [name, count] : drawn) {
    if (name == "none") continue;
    figures += (figures.empty() ? "" : ", ") + name + " " + std::to_string(count);
    faulted += count;
  }
  std::printf("soak: %d exchanges from seed %u, %d with a fault (%s), %.1f s\n", exchanges, seed, faulted,
              figures.c_str(), (SteadyMilliseconds() - start) / 1000.0);
}

}  // namespace
}  // namespace qx
