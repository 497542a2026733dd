#pragma once

#include <memory>

#include "port/notification_windows.h"
#include "port/qxccc.h"

namespace qx {

// Builds the port object of one kind for the program's port table (PortId = kind).
// Kinds this build does not have are placeholders that never open.
std::unique_ptr<TQXCCC> CreateStandardPort(int kind);

// Creates the hidden notification windows (Windows only; null elsewhere).
std::unique_ptr<NotificationWindows> CreateStandardNotificationWindows(PortTable& table, ModuleInstance instance);

}  // namespace qx
