#pragma once

#include <windows.h>

#include "app/main_window_logic.h"

namespace qx {

// The main window's "Add Port" button: shows the Add Port dialog owned by `owner` and
// turns the operator's choice into a port-list entry of `logic`.
void AddButtonClick(HWND owner, MainWindowLogic& logic);

}  // namespace qx
