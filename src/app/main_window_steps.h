#pragma once

// The main window's construction steps around the port table and the services, and its
// destruction steps, without the window: the order and the once-only rule are the same
// on every path (a normal close, a session that ends, an exception while constructing).

#include <functional>

#include "app/main_window_logic.h"
#include "services/service_steps.h"

namespace qx {

// Construction steps 2 to 8: services stopped, ports created and configured, the USB
// devices listed (`listUsbDevices`), controls set by the list. Should a step throw, the
// destruction steps run (ports first, then services) before the exception goes on.
void RunConstructionSteps(MainWindowLogic& logic, ServiceSteps& services, ModuleInstance instance,
                          const std::function<void()>& listUsbDevices);

// Destruction steps 1 to 3: ports destroyed, port library shut down, services started.
// Each runs once, however often and from wherever this is called.
void RunDestructionSteps(MainWindowLogic& logic, ServiceSteps& services);

}  // namespace qx
