// The UI tests' Add Port command: instead of the dialog (whose network search must not
// run outside a namespace of its own) it adds the COM port named in QX_UI_ADD_PORT at
// 9600 bps without parity, as the dialog's COM page would.

#include <cstdlib>
#include <string>

#include "addport/add_port_command.h"
#include "app/main_window_logic.h"

namespace qx {

void CreateAddPortForm(void*) {}
void DestroyAddPortForm() {}

void AddButtonClick(void*, MainWindowLogic& logic) {
  const char* name = std::getenv("QX_UI_ADD_PORT");
  if (name != nullptr && std::string(name).size() > 3) {
    PortSettings entry = logic.CurrentSettings();
    entry.PortType = KindSerial;
    entry.BaudCode = 3;  // 9600 bps
    entry.ParityCode = 0;
    entry.PortNumber = std::atoi(name + 3) - 1;
    logic.AddPortEntry(name, entry);
  }
  logic.PortComboBoxChange();
}

}  // namespace qx
