// The UI tests' Add Port command: instead of the dialog (whose network search must not
// run outside a namespace of its own) it adds a COM port named in QX_UI_ADD_PORT at
// 9600 bps without parity, as the dialog's COM page would: the first of its
// comma-separated names at the first click, the second at the second, ...

#include <cstdlib>
#include <string>

#include "addport/add_port_command.h"
#include "app/main_window_logic.h"

namespace qx {

void CreateAddPortForm(void*) {}
void DestroyAddPortForm() {}

void AddButtonClick(void*, MainWindowLogic& logic) {
  static int clicks = 0;
  const char* list = std::getenv("QX_UI_ADD_PORT");
  std::string names = list != nullptr ? list : "";
  for (int skip = clicks++; skip > 0 && !names.empty(); --skip) {
    const std::size_t comma = names.find(',');
    names = comma == std::string::npos ? "" : names.substr(comma + 1);
  }
  const std::string name = names.substr(0, names.find(','));
  if (name.size() > 3) {
    PortSettings entry = logic.CurrentSettings();
    entry.PortType = KindSerial;
    entry.BaudCode = 3;  // 9600 bps
    entry.ParityCode = 0;
    entry.PortNumber = std::atoi(name.c_str() + 3) - 1;
    logic.AddPortEntry(name, entry);
  }
  logic.PortComboBoxChange();
}

}  // namespace qx
