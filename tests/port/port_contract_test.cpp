// What every kind of the program's port table promises, closed (natively the kinds
// that need Windows are their placeholders) and open against a simulator (under Wine
// the serial and parallel kinds too, against their pty peers).

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "port/port_settings.h"
#include "port/standard_ports.h"
#include "port/usb/usb_port.h"
#include "port/usb/usb_printer.h"
#include "sim/engine/printer_engine.h"
#include "sim/usb/simulated_usb.h"
#include "support/exchange_rigs.h"
#include "support/wait_until.h"
#ifdef _WIN32
#include "port/parallel/lpt_port.h"
#include "port/serial/com_port.h"
#include "serial/pty_peer.h"
#endif

namespace qx {
namespace {

using test::WaitUntil;

class ClosedPortContract : public ::testing::TestWithParam<int> {
 protected:
  std::unique_ptr<TQXCCC> port = CreateStandardPort(GetParam());
};

TEST_P(ClosedPortContract, TransfersAreRefusedWithTheirCountsSet) {
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->IsOpen(), 0);
  char byte = 'x';
  for (const int length : {1, 0}) {
    int count = 9;
    EXPECT_EQ(port->Write(0, &byte, length, &count), 0) << "length " << length;
    EXPECT_EQ(count, 0);
    count = 9;
    const int read = port->Read(&byte, length, &count);
    // The port-service kind's Read reports 1 whatever it took.
    if (GetParam() != KindPortService) {
      EXPECT_EQ(read, 0) << "length " << length;
    }
    EXPECT_EQ(count, 0);
    EXPECT_EQ(port->Write(0, &byte, length, nullptr), 0);
    port->Read(&byte, length, nullptr);
  }
  int count = 9;
  EXPECT_EQ(port->Write(0, nullptr, 1, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(port->GetOutputPending(), 0);
  EXPECT_EQ(port->GetInputAvailable(), 0);
}

TEST_P(ClosedPortContract, CloseReturnsAtOnceEveryTime) {
  ASSERT_NE(port, nullptr);
  int closed = 0;
  port->Hooks.OnClosed = [&](int) { ++closed; };
  const auto start = std::chrono::steady_clock::now();
  // 1 for every kind but the port-service kind without its library (0: it could not
  // close cleanly).
  for (int i = 0; i < 2; ++i) {
    const int result = port->Close();
    if (GetParam() != KindPortService) {
      EXPECT_EQ(result, 1);
    }
  }
  // No pause and no stop sequence for a port that is not open.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
  EXPECT_EQ(port->IsOpen(), 0);
  EXPECT_EQ(closed, 0);  // nothing was closed
}

std::string KindName(const ::testing::TestParamInfo<int>& info) { return "Kind" + std::to_string(info.param); }

INSTANTIATE_TEST_SUITE_P(EveryKind, ClosedPortContract,
                         ::testing::Values(KindSerial, KindParallel, KindVendorUsb, KindNetwork, KindUsbPrinter,
                                           KindPortService),
                         KindName);

// One kind with the device it opens, configured (asynchronous where the kind has the
// choice) by `settings`.
class Rig {
 public:
  explicit Rig(int kind) {
    settings.PortType = kind;
    settings.BaudCode = 4;  // serial: 19200 8N1 with the DTR/DSR handshake
    settings.DataBits = 8;
    settings.FlowControl = 1;
    settings.WriteTimeoutConstant = 2000;
  }
  virtual ~Rig() = default;
  virtual TQXCCC& Port() = 0;
  int Open() { return Port().Configure(&settings) == 1 ? Port().Open() : 0; }
  // The device sends the port a few bytes: here the simulated printer's answer to an
  // identification request.
  virtual void Answer() {
    const sim::Bytes request = sim::wire::Identify();
    Port().Write(0, request.data(), static_cast<int>(request.size()), nullptr);
  }

  PortSettings settings;
};

// The two USB kinds on their simulated drivers.
template <class Kind, class Driver, int kind>
class UsbRig final : public Rig {
 public:
  UsbRig() : Rig(kind) {
    if constexpr (kind == KindVendorUsb) {
      driver_.AddDevice(0);
    } else {
      driver_.AddPrinter();
    }
  }
  TQXCCC& Port() override { return port_; }

 private:
  sim::FakeClock time_{0, sim::FakeClock::PauseOnSleep};
  sim::PrinterEngine engine_{time_};
  Driver driver_{time_, engine_};
  Kind port_{kind, driver_};
};

// A kind from the port table of one of the exchange tests' rigs (the same device
// behind it as there).
class TableRig final : public Rig {
 public:
  TableRig(int kind, std::unique_ptr<test::ExchangeRig> rig) : Rig(kind), rig_(std::move(rig)) {
    rig_->Table().Create(kind);
  }
  TQXCCC& Port() override { return *rig_->Table().At(settings.PortType); }

 private:
  std::unique_ptr<test::ExchangeRig> rig_;
};

#ifdef _WIN32
// The serial and parallel kinds (COM1 and LPT1) against the far ends of their ptys.
template <class Kind, int kind>
class PtyRig final : public Rig {
 public:
  explicit PtyRig(const char* peer) : Rig(kind), peer_(peer) {}
  TQXCCC& Port() override { return port_; }
  void Answer() override { peer_.Send("answer"); }

 private:
  Kind port_{kind};
  test::PtyPeer peer_;
};
#endif

std::unique_ptr<Rig> RigFor(int kind) {
  switch (kind) {
#ifdef _WIN32
    case KindSerial: return std::make_unique<PtyRig<TQXCOM, KindSerial>>("COM2");
    case KindParallel: return std::make_unique<PtyRig<TQXLPT, KindParallel>>("COM13");
#endif
    case KindVendorUsb: return std::make_unique<UsbRig<TQXUSB, test::SimVendorUsbDriver, KindVendorUsb>>();
    case KindNetwork: {
      const Ipv4Address printer{127, 6, 9, 1};
      auto rig = std::make_unique<TableRig>(kind, std::make_unique<test::NetRig>(printer));
      std::copy(printer.begin(), printer.end(), rig->settings.IpAddress);
      return rig;
    }
    case KindUsbPrinter: return std::make_unique<UsbRig<TQXUSBPRN, test::SimUsbPrintDriver, KindUsbPrinter>>();
  }
  auto service = std::make_unique<TableRig>(kind, std::make_unique<test::ServiceRig>());
  service->settings.SyncMode = 1;  // the generated name "PVDPRT001"
  service->settings.PortNumber = 1;
  return service;
}

class OpenPortContract : public ::testing::TestWithParam<int> {
 protected:
  std::unique_ptr<Rig> rig = RigFor(GetParam());
  TQXCCC& port = rig->Port();
};

TEST_P(OpenPortContract, CountsAreSetAndReopeningStartsEmpty) {
  // Whether writes wait in a send queue for a send worker (the others' reads never fail).
  const bool queued = GetParam() != KindUsbPrinter && GetParam() != KindPortService;
  // The send worker is held in its progress report while a block waits behind it,
  // until Close drops that block.
  std::atomic<bool> hold{false};
  std::atomic<bool> held{false};
  std::atomic<bool> stale{false};
  port.Hooks.OnWriteProgress = [&](int, int, int, int) {
    if (hold) {
      held = true;
      WaitUntil([&] { return !hold || (stale && port.GetOutputPending() <= 1); });
    }
    return 1;
  };
  ASSERT_EQ(rig->Open(), 1);
  char buffer[256];
  int count = 9;
  // Reads until one byte of the device's answer came.
  auto takeOne = [&] {
    return WaitUntil([&] {
      port.Read(buffer, 1, &count);
      return count == 1;
    });
  };
  EXPECT_EQ(port.Write(0, buffer, 0, &count), 0);
  EXPECT_EQ(count, 0);
  count = 9;
  EXPECT_EQ(port.Read(buffer, 0, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(port.Write(0, buffer, 0, nullptr) + port.Read(buffer, 0, nullptr), 0);

  // Written (or queued) whole: the count is the length. A read asking for more than
  // has come reports what it took.
  EXPECT_EQ(port.Write(0, "x", 1, &count), 1);
  EXPECT_EQ(count, 1);
  rig->Answer();
  ASSERT_TRUE(takeOne());
  count = 999;
  EXPECT_EQ(port.Read(buffer, sizeof buffer, &count), queued ? 0 : 1);
  EXPECT_GE(count, 0);
  EXPECT_LT(count, static_cast<int>(sizeof buffer));

  // The rest of the answer, if any, waits to be read; a block waits to be sent.
  rig->Answer();
  ASSERT_TRUE(takeOne());
  hold = true;
  if (queued) {
    ASSERT_EQ(port.Write(0, "x", 1, nullptr), 1);
    ASSERT_TRUE(WaitUntil([&] { return held.load(); }));
    ASSERT_EQ(port.Write(0, "stale", 5, nullptr), 1);
    stale = true;
    EXPECT_GE(port.GetOutputPending(), 5);
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.Close(), 1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  hold = false;
  ASSERT_EQ(port.Open(), 1);
  EXPECT_EQ(port.GetOutputPending(), 0);
  EXPECT_EQ(port.GetInputAvailable(), 0);
  count = 99;
  port.Read(buffer, sizeof buffer, &count);
  EXPECT_EQ(count, 0) << "the rest of the answer survived the reopening";
  EXPECT_EQ(port.Close(), 1);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, OpenPortContract,
                         ::testing::Values(
#ifdef _WIN32
                             KindSerial, KindParallel,
#endif
                             KindVendorUsb, KindNetwork, KindUsbPrinter, KindPortService),
                         KindName);

}  // namespace
}  // namespace qx
