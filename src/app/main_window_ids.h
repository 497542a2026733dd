#pragma once

// Names and control identifiers of the program's windows. They stay stable: the UI
// driver of the tests finds the windows and controls by them.

namespace qx::ui {

inline constexpr char MutexName[] = "QX-K40VIPrinterModelSetting Utility";
inline constexpr char ApplicationClass[] = "TApplication";
inline constexpr char ApplicationTitle[] = "QX-K40VI Printer Model Setting Utility";
inline constexpr char MainWindowClass[] = "TMainForm";
inline constexpr char MainWindowCaption[] = "QX-K40VII Printer Model Setting Utility Ver.1.00";

inline constexpr int MainClientWidth = 470;
inline constexpr int MainClientHeight = 270;

// Not 1 or 2: the dialog navigation sends IDOK and IDCANCEL for Enter and Escape.
enum ControlId : int {
  PortLabelId = 1001,
  PortComboBoxId = 1002,
  AddButtonId = 1003,
  GroupBoxId = 1004,
  K40VIRadioButtonId = 1005,  // "QX-K40VII"
  K40VRadioButtonId = 1006,   // "QX-K40VI"
  K40IVRadioButtonId = 1007,  // "QX-K40V"
  GetButtonId = 1008,
  SetButtonId = 1009,
  PrintButtonId = 1010,
  ExitButtonId = 1011,
  ProgressBarId = 1012,
  Label1Id = 1013,
  Label2Id = 1014,
};

}  // namespace qx::ui
