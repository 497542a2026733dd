#include "port/notification_windows_win32.h"

#include <windows.h>
#include <dbt.h>

#include "port/notification_targets.h"
#include "port/port_settings.h"
#include "port/port_table.h"

namespace qx {

namespace {

constexpr char DeviceChangeClass[] = "UsbWndProc";
constexpr char SocketClass[] = "TcpWndProc";
constexpr WORD FdConnect = 0x10;
constexpr WORD FdClose = 0x20;

PortTable* TableOf(HWND window) { return reinterpret_cast<PortTable*>(GetWindowLongPtrA(window, GWLP_USERDATA)); }

LRESULT CALLBACK DeviceChangeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEREMOVECOMPLETE) {
    if (PortTable* table = TableOf(window)) {
      for (int index = 0; index < PortTable::Size; ++index) {
        TQXCCC* port = table->At(index);
        if (port == nullptr || port->Kind != KindVendorUsb) continue;
        auto* target = dynamic_cast<DevicePresenceTarget*>(port);
        if (target != nullptr && target->CheckDevicePresent() == 0) port->Close();
      }
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// The first network port, in index order, that holds this socket.
TQXCCC* NetworkPortWithSocket(PortTable& table, WPARAM socket, SocketNotifyTarget*& target) {
  for (int index = 0; index < PortTable::Size; ++index) {
    TQXCCC* port = table.At(index);
    if (port == nullptr || port->Kind != KindNetwork) continue;
    auto* candidate = dynamic_cast<SocketNotifyTarget*>(port);
    if (candidate != nullptr && static_cast<WPARAM>(candidate->Socket()) == socket) {
      target = candidate;
      return port;
    }
  }
  return nullptr;
}

LRESULT CALLBACK SocketProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  PortTable* table = TableOf(window);
  if (message == SocketNotifyMessage && table != nullptr) {
    const WORD event = LOWORD(lParam);
    const WORD error = HIWORD(lParam);
    if (event == FdConnect || event == FdClose) {
      SocketNotifyTarget* target = nullptr;
      if (TQXCCC* port = NetworkPortWithSocket(*table, wParam, target)) {
        if (event == FdConnect) {
          // A connect that failed made no connection: the port is not open.
          if (error == 0) {
            target->MarkOpened();
            target->NotifyOpened();
          }
        } else {
          port->Close();
        }
        return 0;
      }
    }
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// Registers the class (once per process: a second table in the same process reuses it)
// and makes the hidden window. Null when either fails.
HWND MakeWindow(const char* className, WNDPROC procedure, HINSTANCE instance, PortTable& table) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = className;
  if (RegisterClassExA(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
  HWND window = CreateWindowExA(0, className, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, nullptr);
  if (window != nullptr) SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&table));
  return window;
}

class Win32NotificationWindows final : public NotificationWindows {
 public:
  Win32NotificationWindows(PortTable& table, HINSTANCE instance)
      : deviceChange_(MakeWindow(DeviceChangeClass, DeviceChangeProc, instance, table)),
        socket_(MakeWindow(SocketClass, SocketProc, instance, table)) {}
  ~Win32NotificationWindows() override {
    if (deviceChange_ != nullptr) DestroyWindow(deviceChange_);
    if (socket_ != nullptr) DestroyWindow(socket_);
  }
  void* DeviceChangeWindow() const override { return deviceChange_; }
  void* SocketWindow() const override { return socket_; }

 private:
  HWND deviceChange_;
  HWND socket_;
};

}  // namespace

std::unique_ptr<NotificationWindows> CreateWin32NotificationWindows(PortTable& table, ModuleInstance instance) {
  return std::make_unique<Win32NotificationWindows>(table, static_cast<HINSTANCE>(instance));
}

}  // namespace qx
