// Stands in for the Add Port command while this build has no Add Port dialog: the
// list stays as it is and only the controls are refreshed.

#include "addport/add_port_command.h"

namespace qx {

void AddButtonClick(HWND, MainWindowLogic& logic) { logic.PortComboBoxChange(); }

}  // namespace qx
