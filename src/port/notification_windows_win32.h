#pragma once

// The two hidden notification windows on Windows: "UsbWndProc" for device removals,
// "TcpWndProc" for the network kind's socket events. Their procedures find the ports
// in the table that made them; they keep no state of their own.

#include <memory>

#include "port/notification_targets.h"
#include "port/notification_windows.h"

namespace qx {

class PortTable;

std::unique_ptr<NotificationWindows> CreateWin32NotificationWindows(PortTable& table, ModuleInstance instance);

}  // namespace qx
