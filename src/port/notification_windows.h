#pragma once

#include <memory>

namespace qx {

class PortTable;

// Opaque module instance handle (HINSTANCE on Windows).
using ModuleInstance = void*;

// The two hidden windows through which device removals and socket events reach the
// port library. Created by the port table's LibraryInit, destroyed by its
// LibraryShutdown. Off Windows there are none.
class NotificationWindows {
 public:
  virtual ~NotificationWindows() = default;
  // HWND values, null when a window could not be made.
  virtual void* DeviceChangeWindow() const = 0;
  virtual void* SocketWindow() const = 0;
};

}  // namespace qx
