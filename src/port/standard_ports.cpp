#include "port/standard_ports.h"

#include "port/net/net_port.h"
#include "port/placeholder_port.h"
#include "port/port_settings.h"
#include "port/port_table.h"

#ifdef _WIN32
#include "port/notification_windows_win32.h"
#include "port/parallel/lpt_port.h"
#include "port/serial/com_port.h"
#include "port/service/service_library_win32.h"
#include "port/service/service_port.h"
#include "port/device/device_calls.h"
#include "port/usb/usb_port.h"
#include "port/usb/usb_printer.h"
#endif

namespace qx {

std::unique_ptr<TQXCCC> CreateStandardPort(int kind) {
  switch (kind) {
    // Each kind replaces its placeholder here as it is built.
    case KindNetwork:
      return std::make_unique<TQXNET>(kind, [] {
        NotificationWindows* windows = ProcessPortTable().Windows();
        return windows ? windows->SocketWindow() : nullptr;
      });
#ifdef _WIN32
    case KindSerial:
      return std::make_unique<TQXCOM>(kind);
    case KindParallel:
      return std::make_unique<TQXLPT>(kind);
    case KindPortService:
      return std::make_unique<TQXPH>(kind, LoadServiceLibrary());
    case KindVendorUsb:
      return std::make_unique<TQXUSB>(kind, Kernel32DeviceCalls());
    case KindUsbPrinter:
      return std::make_unique<TQXUSBPRN>(kind, Kernel32DeviceCalls());
#endif
    default:
      return std::make_unique<TPlaceholderPort>(kind, kind);
  }
}

std::unique_ptr<NotificationWindows> CreateStandardNotificationWindows(PortTable& table, ModuleInstance instance) {
#ifdef _WIN32
  return CreateWin32NotificationWindows(table, instance);
#else
  (void)table;
  (void)instance;
  return nullptr;
#endif
}

PortTable& ProcessPortTable() {
  static PortTable table(CreateStandardPort, CreateStandardNotificationWindows);
  return table;
}

}  // namespace qx
