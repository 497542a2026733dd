#include "addport/add_port_command.h"

#include <memory>

#include "addport/add_port_dialog.h"
#include "app/main_window_logic.h"

namespace qx {

namespace {

// The dialog lives from program start to program end, like the main window.
std::unique_ptr<TAddPortForm>& AddPortForm() {
  static std::unique_ptr<TAddPortForm> form;
  return form;
}

}  // namespace

void CreateAddPortForm(void* owner) {
  auto& form = AddPortForm();
  form.reset();
  form = std::make_unique<TAddPortForm>(static_cast<HWND>(owner));
}

void DestroyAddPortForm() { AddPortForm().reset(); }

void AddButtonClick(void* owner, MainWindowLogic& logic) {
  auto& form = AddPortForm();
  if (!form || !form->Handle() || form->Owner() != static_cast<HWND>(owner)) CreateAddPortForm(owner);

  form->RefreshPortLists();
  const int result = form->ShowModal();
  const PortSettings settings = logic.CurrentSettings();
  if (result == ModalResultOk) {
    const AddPortEntryData entry = BuildPortEntry(form->Choice(), settings);
    logic.AddPortEntry(entry.Name, entry.Settings);
  }
  logic.PortComboBoxChange();
}

}  // namespace qx
