#pragma once

// The exchanges of the main window's logic over the simulated USB drivers: the window's
// fake clock as the drivers' time, and a port table whose USB kinds are the real ones
// on those drivers.

#include <memory>

#include "support/fake_host.h"
#include "port/placeholder_port.h"
#include "port/port_table.h"
#include "port/usb/usb_port.h"
#include "port/usb/usb_printer.h"
#include "sim/usb/simulated_usb.h"

namespace qx::test {

class HostTime final : public Clock {
 public:
  explicit HostTime(FakeHost& host) : host_(host) {}
  std::int64_t NowMilliseconds() const override { return host_.now; }
  void SleepMilliseconds(int ms) override {
    if (ms > 0) host_.now += ms;
  }

 private:
  FakeHost& host_;
};

// Without `printer` the printer-class kind never opens.
inline PortTable::PortFactory SimulatedUsbPorts(SimVendorUsbDriver& vendor, SimUsbPrintDriver* printer = nullptr) {
  return [&vendor, printer](int kind) -> std::unique_ptr<TQXCCC> {
    if (kind == KindVendorUsb) return std::make_unique<TQXUSB>(kind, vendor);
    if (kind == KindUsbPrinter && printer != nullptr) return std::make_unique<TQXUSBPRN>(kind, *printer);
    return std::make_unique<TPlaceholderPort>(kind, kind);
  };
}

}  // namespace qx::test
