// Get, Set and Print Test end to end over the port-service kind: the main window's
// logic drives the port table, kind 5 talks to the test library, and the library serves
// the port from the simulated printer's engine, delivering its replies on its own thread.
//
// One fake time runs the host and the printer. The exchange does not pause between
// reads of this kind, so every clock read first waits (in real time) until the library
// has handed over what the printer has sent by then; only then does fake time move on.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/fake_host.h"
#include "app/main_window_logic.h"
#include "port/placeholder_port.h"
#include "port/service/service_port.h"
#include "port/standard_ports.h"
#include "sim/engine/clock.h"
#include "sim/engine/printer_engine.h"
#include "sim/port_service/stand_in_library.h"

namespace qx {
namespace {

using test::EngineBackend;
using test::Zemak;
using test::ZemakCalls;

class ServiceHost : public test::FakeHost {
 public:
  explicit ServiceHost(sim::FakeClock& clock) : clock_(clock) { msPerClockRead = 1; }

  std::int64_t ElapsedMilliseconds() override {
    if (Zemak().WaitIdle(5000) != 1) ++stalls;
    const std::int64_t t = FakeHost::ElapsedMilliseconds();
    clock_.Set(now);
    return t;
  }
  void Sleep(int ms) override {
    FakeHost::Sleep(ms);
    clock_.Set(now);
  }

  // Clock reads at which the library did not catch up within 5 s.
  int stalls = 0;

 private:
  sim::FakeClock& clock_;
};

std::unique_ptr<TQXCCC> MakePort(int kind) {
  if (kind != KindPortService) return std::make_unique<TPlaceholderPort>(kind, kind);
#ifdef _WIN32
  // The program's own kind 5, which finds the library beside this program.
  return CreateStandardPort(kind);
#else
  return std::make_unique<TQXPH>(kind, test::TestServiceLibrary());
#endif
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class ServiceExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Zemak().Complete()) << "the test library is not beside the test program";
    Zemak().Reset();
    hooks = backend.Backend();
    Zemak().SetBackend(&hooks);
    logic.CreatePorts(nullptr);
    ASSERT_NE(dynamic_cast<TQXPH*>(table.At(KindPortService)), nullptr);
    ASSERT_TRUE(static_cast<TQXPH*>(table.At(KindPortService))->LibraryLoaded());
  }
  void TearDown() override {
    logic.DestroyPorts();
    Zemak().Reset();
    EXPECT_EQ(host.stalls, 0);
  }

  void UseServicePort(int portNumber = 1, std::array<std::uint8_t, 4> ip = {192, 168, 192, 168}) {
    PortSettings s = logic.CurrentSettings();
    s.PortType = KindPortService;
    s.PortNumber = portNumber;
    for (int i = 0; i < 4; ++i) s.IpAddress[i] = ip[i];
    logic.AddPortEntry("PH-00" + std::to_string(portNumber), s);
    logic.PortComboBoxChange();
  }

  std::string Box() const { return host.Boxes().empty() ? std::string() : host.Boxes().back(); }

  sim::FakeClock clock;
  sim::PrinterEngine engine{clock};
  EngineBackend backend{engine, {"PVDPRT001"}};
  ZemakTestBackend hooks{};
  ServiceHost host{clock};
  PortTable table{MakePort};
  MainWindowLogic logic{table, host};
};

TEST_F(ServiceExchangeTest, Get) {
  engine.SetModelSetting(0x02);
  UseServicePort();
  logic.GetButtonClick();
  EXPECT_EQ(Box(), "box Information (information icon): Getting information was successful.");
  EXPECT_EQ(host.label2, "QX-K40V");
  EXPECT_TRUE(engine.HostBytes() == sim::wire::Identify() + sim::wire::FirmwareQuery() + sim::wire::ModelSettingQuery())
      << sim::HexText(engine.HostBytes());
  const std::vector<std::string> calls = ZemakCalls();
  EXPECT_TRUE(Contains(calls, "Open pipe://QX/PVDPRT001 -> 1"));
  EXPECT_TRUE(Contains(calls, "SendReceive 1 5 flags=0 timeout=2000 receive=0"));
  EXPECT_EQ(Zemak().OpenConnections(), 0u);  // closed before the box
  EXPECT_EQ(backend.Opened(), 0);
}

TEST_F(ServiceExchangeTest, GetFromARemoteService) {
  UseServicePort(1, {10, 0, 0, 5});
  logic.GetButtonClick();
  EXPECT_EQ(Box(), "box Information (information icon): Getting information was successful.");
  EXPECT_EQ(host.label2, "QX-K40VII");
  EXPECT_TRUE(Contains(ZemakCalls(), "Open tcp://10.0.0.5/QX/PVDPRT001 -> 1"));
}

TEST_F(ServiceExchangeTest, PrintTest) {
  UseServicePort();
  logic.PrintButtonClick();
  EXPECT_EQ(Box(), "box Information (information icon): Test print was successful.");
  EXPECT_EQ(engine.PrintedLines(), (std::vector<std::string>{"QX-K40VII Setting Utility Test Print."}));
  EXPECT_TRUE(Contains(ZemakCalls(), "SendReceive 1 39 flags=0 timeout=2000 receive=0"));
}

TEST_F(ServiceExchangeTest, Set) {
  UseServicePort();
  host.checked[static_cast<int>(Control::K40VRadioButton)] = true;  // caption "QX-K40VI"
  const std::int64_t start = host.now;
  logic.SetButtonClick();
  EXPECT_EQ(Box(), "box Information (information icon): The setting change succeeded.");
  EXPECT_EQ(engine.ModelSetting(), 0x03);
  EXPECT_EQ(host.label2, "QX-K40VI");
  EXPECT_GE(host.now - start, 40000);
  EXPECT_EQ(engine.RestartCount(), 1);
  EXPECT_TRUE(logic.IsEnabled(Control::AddButton));
  EXPECT_EQ(Zemak().OpenConnections(), 0u);
}

TEST_F(ServiceExchangeTest, SetWhenTheRestartOutlastsTheWait) {
  engine.SetRestartMs(45000);
  UseServicePort();
  host.checked[static_cast<int>(Control::K40IVRadioButton)] = true;  // caption "QX-K40V"
  logic.SetButtonClick();
  EXPECT_EQ(Box(), "box Information (information icon): The setting change succeeded.");
  EXPECT_EQ(engine.ModelSetting(), 0x02);
  // Refused while the printer restarts, open again after the second retry.
  EXPECT_EQ(backend.Refused().size(), 2u);
  EXPECT_TRUE(Contains(host.events, "sleep 2000"));
  EXPECT_TRUE(Contains(host.events, "sleep 4000"));
  EXPECT_FALSE(Contains(host.events, "sleep 6000"));
}

TEST_F(ServiceExchangeTest, APortTheServiceDoesNotHave) {
  UseServicePort(2);  // "PVDPRT002"
  logic.GetButtonClick();
  EXPECT_EQ(Box(), "box Error (error icon): This utility can't open communication port.");
  EXPECT_EQ(backend.Refused(), (std::vector<std::string>{"PVDPRT002"}));
}

TEST_F(ServiceExchangeTest, ASilentPrinter) {
  sim::ReplyFault silent;
  silent.Silent = true;
  engine.SetFault(sim::Command::Identify, silent);
  UseServicePort();
  const std::int64_t start = host.now;
  logic.GetButtonClick();
  EXPECT_EQ(Box(), "box Error (error icon): Communication error.Can not recognize QX-K40VII.");
  EXPECT_GE(host.now - start, 2000);
  EXPECT_EQ(Zemak().OpenConnections(), 0u);
}

TEST_F(ServiceExchangeTest, ALateReplyWithinTheByteLimit) {
  // The identify reply comes 1500 ms of printer time later: fake time has to move for
  // it, and the exchange still succeeds.
  sim::ReplyFault late;
  late.DelayMs = 1500;
  engine.SetFault(sim::Command::Identify, late);
  UseServicePort();
  logic.PrintButtonClick();
  EXPECT_EQ(Box(), "box Information (information icon): Test print was successful.");
}

}  // namespace
}  // namespace qx
