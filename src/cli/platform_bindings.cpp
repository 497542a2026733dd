#include "cli/platform_bindings.h"

#include <cstdio>

#include "cli/interrupts.h"
#include "port/standard_ports.h"

#ifdef _WIN32
#include "port/device/device_calls.h"
#include "services/win32_service_system.h"
#else
#include "port/serial/tty_port_posix.h"
#endif

namespace qx::cli {

#ifdef _WIN32
namespace {

// The interfaces SetupAPI lists as present, as the window lists them at start: one
// running number for the names, vendor driver first; each PORT names the index
// within its own class, which is what its port kind opens.
std::vector<UsbDeviceEntry> ListUsbDevices() {
  std::vector<UsbDeviceEntry> devices;
  int number = 0;
  char text[32];
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<std::string> paths;
    const std::vector<int> indexes = PresentInterfaces(pass == 0 ? VendorUsbInterfaceClass : UsbPrintInterfaceClass, &paths);
    for (std::size_t i = 0; i < indexes.size(); ++i) {
      UsbDeviceEntry device;
      std::snprintf(text, sizeof text, pass == 0 ? "usb-%03d" : "usbprn-%03d", indexes[i]);
      device.Port = text;
      std::snprintf(text, sizeof text, pass == 0 ? "USB-%03d" : "USB PRN-%03d", number++);
      device.Name = text;
      device.Path = paths[i];
      devices.push_back(device);
    }
  }
  return devices;
}

}  // namespace
#endif

void BindNetwork(Environment& env);

namespace {

// The program's port kinds, one object per exchange; off Windows a serial:PATH port
// is the tty kind on that device.
std::unique_ptr<TQXCCC> StandardPortFor(int kind, const PortSpec& spec) {
#ifndef _WIN32
  if (kind == KindSerial && !spec.DevicePath.empty()) return std::make_unique<TQXTTY>(kind, spec.DevicePath);
#else
  (void)spec;
#endif
  return CreateStandardPort(kind);
}

}  // namespace

void BindPlatform(Environment& env) {
  env.Ports = StandardPortFor;
#ifdef _WIN32
  env.ListUsbDevices = ListUsbDevices;
  env.Services = &SystemServices();
#endif
  env.WatchInterrupts = WatchInterrupts;
  BindNetwork(env);
}

}  // namespace qx::cli
