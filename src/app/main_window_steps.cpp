#include "app/main_window_steps.h"

namespace qx {

void RunConstructionSteps(MainWindowLogic& logic, ServiceSteps& services, ModuleInstance instance,
                          const std::function<void()>& listUsbDevices) {
  // Nothing else may hold the printer's port while the utility runs.
  services.StopServicesAtStart();
  try {
    logic.CreatePorts(instance);
    listUsbDevices();
    logic.PortComboBoxChange();
  } catch (...) {
    RunDestructionSteps(logic, services);
    throw;
  }
}

void RunDestructionSteps(MainWindowLogic& logic, ServiceSteps& services) {
  logic.DestroyPorts();
  services.StartServicesAtExit();
}

}  // namespace qx
