#pragma once

// The main window's "Add Port" button: shows the Add Port dialog and turns the
// operator's choice into a port-list entry.

namespace qx {

class MainWindowLogic;

// The program's one Add Port dialog, owned by the main window (`owner` is its HWND):
// created hidden at start, destroyed at the end. AddButtonClick creates it when it is
// missing or belongs to another owner.
void CreateAddPortForm(void* owner);
void DestroyAddPortForm();

// AddButtonClick: refresh the active page, show the dialog modally, and on OK add the
// entry built from its active page (fields it does not set come from the current
// settings); PortComboBoxChange whatever the result.
void AddButtonClick(void* owner, MainWindowLogic& logic);

}  // namespace qx
