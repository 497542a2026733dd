#pragma once

// How the end-to-end exchange tests reach the simulated printer over each port kind:
// the window's host, a port table whose kind is the real class on its simulated device,
// and the printer's engine behind it. The kinds on simulated drivers in-process run on
// one fake time (the window's); the ones whose bytes cross real lines (sockets, ptys)
// run the short polls in real time and let the long waits pass at once.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "support/fake_host.h"
#include "app/main_window_logic.h"
#include "support/real_time_host.h"
#include "net/net_test_support.h"
#include "platform/time.h"
#include "port/placeholder_port.h"
#include "port/port_table.h"
#include "port/service/service_port.h"
#include "port/standard_ports.h"
#include "port/usb/usb_port.h"
#include "port/usb/usb_printer.h"
#include "sim/engine/clock.h"
#include "sim/engine/printer_engine.h"
#include "sim/port_service/stand_in_library.h"
#include "sim/transport/real_clock.h"
#include "sim/transport/simulated_printer.h"
#include "sim/usb/simulated_usb.h"
#include "support/wait_until.h"
#ifdef _WIN32
#include "serial/pty_bridge.h"
#endif

namespace qx::test {

class ExchangeRig {
 public:
  virtual ~ExchangeRig() = default;
  virtual FakeHost& Host() = 0;
  virtual PortTable& Table() = 0;
  virtual sim::PrinterEngine& Printer() = 0;
  // Lists the kind's entry and selects it (after CreatePorts).
  virtual void Select(MainWindowLogic& logic) = 0;
  // What keeps the rig from running, or empty.
  virtual std::string Problem() { return {}; }
  // The time exchanges are bounded on: the window's fake time, or the wall clock.
  virtual std::int64_t Now() { return Host().now; }
  bool FakeTime() const { return fakeTime_; }
  // The longest a reply that never comes may cost (one byte limit and the polls
  // around it, plus the crossing time of real lines).
  std::int64_t ReplyBoundMs() const { return replyBoundMs_; }
  // Takes the printer away (switched off, unplugged) or brings it back, with fresh
  // links where a link that hung up stays down.
  virtual void SetPresent(bool present) { Printer().SetPowered(present); }
  // The box of an exchange whose printer is not there.
  virtual const char* AbsentMessage() const { return MessageCannotOpen; }
  // What the rig's simulated devices saw, checked at the end of each test.
  virtual void ExpectClean() {}

 protected:
  ExchangeRig(bool fakeTime, std::int64_t replyBoundMs) : fakeTime_(fakeTime), replyBoundMs_(replyBoundMs) {}

 private:
  bool fakeTime_;
  std::int64_t replyBoundMs_;
};

// Both USB kinds on their simulated drivers: list item 0 is the vendor driver's device,
// 1 the printer-class interface.
class UsbRig final : public ExchangeRig {
 public:
  static constexpr int VendorItem = 0;
  static constexpr int PrinterItem = 1;

  explicit UsbRig(int item) : ExchangeRig(true, 2000 + 600), item_(item) {
    vendor.AddDevice(0);
    printer.AddPrinter();
  }
  FakeHost& Host() override { return host; }
  PortTable& Table() override { return table; }
  sim::PrinterEngine& Printer() override { return engine; }
  void Select(MainWindowLogic& logic) override {
    logic.AddUsbDevices({0}, {0});
    logic.SelectPort(item_);
    logic.PortComboBoxChange();
  }
  void SetPresent(bool present) override {
    auto change = [&](auto& device) {
      device.Present = present;
      if (present) device.Link = std::make_unique<sim::HostLink>(engine);
    };
    if (item_ == VendorItem) {
      vendor.Change(0, [&](VendorDevice& d) { change(d); });
    } else {
      printer.Change(0, [&](UsbPrinter& p) { change(p); });
    }
  }
  void ExpectClean() override {
    EXPECT_EQ(vendor.BadCalls(), 0) << ::testing::PrintToString(vendor.BadCallLog());
    EXPECT_EQ(printer.BadCalls(), 0) << ::testing::PrintToString(printer.BadCallLog());
    EXPECT_EQ(vendor.OpenHandles(), 0);
    EXPECT_EQ(printer.OpenHandles(), 0);
  }
  int Item() const { return item_; }

  // The window's fake clock is the drivers' and the printer's time.
  class HostTime final : public Clock {
   public:
    explicit HostTime(FakeHost& host) : host_(host) {}
    std::int64_t NowMilliseconds() const override { return host_.now; }
    void SleepMilliseconds(int ms) override { host_.now += std::max(ms, 0); }

   private:
    FakeHost& host_;
  };

  FakeHost host;
  HostTime time{host};
  sim::PrinterEngine engine{time};
  SimVendorUsbDriver vendor{time, engine};
  SimUsbPrintDriver printer{time, engine};
  PortTable table{[this](int kind) -> std::unique_ptr<TQXCCC> {
    if (kind == KindVendorUsb) return std::make_unique<TQXUSB>(kind, vendor);
    if (kind == KindUsbPrinter) return std::make_unique<TQXUSBPRN>(kind, printer);
    return std::make_unique<TPlaceholderPort>(kind, kind);
  }};

 private:
  int item_;
};

// The network kind against qxsim's servers on a loopback address of the test's own,
// the kind's waits on a fast clock.
class NetRig final : public ExchangeRig {
 public:
  explicit NetRig(Ipv4Address address = {127, 6, 2, 1}, bool udp = true)
      : ExchangeRig(false, 2000 + 1500), address_(address) {
    sim::SimulatedPrinterOptions options;
    options.Address = address;
    options.Udp = udp;
    options.Printer.RestartMs = 100;
    server = std::make_unique<sim::SimulatedPrinter>(options);
    if (!server->Start(&problem_)) problem_ += " (starting the printer)";
  }
  ~NetRig() override { table.reset(); }
  FakeHost& Host() override { return host; }
  PortTable& Table() override { return *table; }
  sim::PrinterEngine& Printer() override { return server->Printer(); }
  void Select(MainWindowLogic& logic) override { SelectNetworkPrinter(logic, address_); }
  std::string Problem() override { return problem_; }
  std::int64_t Now() override { return SteadyMilliseconds(); }
  void SetPresent(bool present) override {
    Printer().SetPowered(present);
    // A power cut closes the printer's TCP port; its server opens it again within its poll.
    if (present) {
      EXPECT_TRUE(WaitUntil([&] { return server->Tcp()->Listening(); }));
    }
  }

  PacedClock clock{NetClockSpeed};
  RealTimeHost host;
  std::unique_ptr<sim::SimulatedPrinter> server;
  // Closed before the printer goes.
  std::unique_ptr<PortTable> table = std::make_unique<PortTable>(NetworkPorts(clock));

 private:
  Ipv4Address address_;
  std::string problem_;
};

// The port-service kind: kind 5 talks to the test library, which serves the port from
// the printer's engine and delivers its replies on its own thread. One fake time runs
// the host and the printer; the exchange does not pause between reads of this kind,
// so every clock read first waits (in real time) until the library has handed over
// what the printer has sent by then, and only then does fake time move on.
class ServiceRig final : public ExchangeRig {
 public:
  class ServiceHost final : public FakeHost {
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

  ServiceRig() : ExchangeRig(true, 3000) {
    if (!Zemak().Complete()) return;
    Zemak().Reset();
    hooks = backend.Backend();
    Zemak().SetBackend(&hooks);
  }
  ~ServiceRig() override {
    if (Zemak().Complete()) Zemak().Reset();
  }
  FakeHost& Host() override { return host; }
  PortTable& Table() override { return table; }
  sim::PrinterEngine& Printer() override { return engine; }
  void Select(MainWindowLogic& logic) override { Use(logic, "PH-001", 1, {192, 168, 192, 168}); }
  std::string Problem() override {
    if (!Zemak().Complete()) return "the test library is not beside the test program";
    auto* port = dynamic_cast<TQXPH*>(table.At(KindPortService));
    return port != nullptr && port->LibraryLoaded() ? "" : "kind 5 has not loaded the library";
  }
  void ExpectClean() override {
    EXPECT_EQ(host.stalls, 0);
    EXPECT_EQ(Zemak().OpenConnections(), 0u);
    EXPECT_EQ(backend.Opened(), 0);
  }

  // Lists and selects the service's port `portNumber` on the service at `ip`.
  static void Use(MainWindowLogic& logic, const std::string& name, int portNumber, std::array<std::uint8_t, 4> ip) {
    PortSettings s = logic.CurrentSettings();
    s.PortType = KindPortService;
    s.PortNumber = portNumber;
    std::copy(ip.begin(), ip.end(), s.IpAddress);
    logic.AddPortEntry(name, s);
    logic.SelectPort(logic.Ports().Count() - 1);
    logic.PortComboBoxChange();
  }

  sim::FakeClock clock;
  sim::PrinterEngine engine{clock};
  EngineBackend backend{engine, {"PVDPRT001"}};
  ZemakTestBackend hooks{};
  ServiceHost host{clock};
  PortTable table{[](int kind) -> std::unique_ptr<TQXCCC> {
    if (kind != KindPortService) return std::make_unique<TPlaceholderPort>(kind, kind);
#ifdef _WIN32
    // The program's own kind 5, which finds the library beside this program.
    return CreateStandardPort(kind);
#else
    return std::make_unique<TQXPH>(kind, TestServiceLibrary());
#endif
  }};
};

#ifdef _WIN32
// The serial kind on `device`, whose pty's far end `peerName` is bridged to the printer.
class SerialRig final : public ExchangeRig {
  const char* device_;
  int portNumber_;

 public:
  SerialRig(const char* device = "COM1", int portNumber = 0, const char* peerName = "COM2")
      : ExchangeRig(false, 8000), device_(device), portNumber_(portNumber), peer(peerName) {
    if (peer.Valid()) bridge.emplace(peer, engine);
  }
  ~SerialRig() override { bridge.reset(); }
  FakeHost& Host() override { return host; }
  PortTable& Table() override { return table; }
  sim::PrinterEngine& Printer() override { return engine; }
  void Select(MainWindowLogic& logic) override {
    PortSettings com = logic.CurrentSettings();
    com.PortType = KindSerial;
    com.PortNumber = portNumber_;
    com.BaudCode = 3;
    logic.AddPortEntry(device_, com);
    logic.SelectPort(logic.Ports().Count() - 1);
    logic.PortComboBoxChange();
  }
  std::string Problem() override { return peer.Valid() ? "" : "the pty pair is not mapped"; }
  std::int64_t Now() override { return SteadyMilliseconds(); }
  void SetPresent(bool present) override {
    engine.SetPowered(present);
    if (present && peer.Valid()) {
      bridge.reset();
      bridge.emplace(peer, engine);
    }
  }
  // The line is there without the printer: the commands go out and nothing answers.
  const char* AbsentMessage() const override { return MessageNotRecognised; }

  sim::RealClock clock;
  sim::PrinterEngine engine{clock, {.ModelName = "QX-K40VII", .Firmware = "6.00", .ModelSetting = 0x00,
                                    .RestartMs = 100}};
  PtyPeer peer;
  std::optional<PtyBridge> bridge;
  RealTimeHost host;
  PortTable table{CreateStandardPort};
};
#endif

}  // namespace qx::test
