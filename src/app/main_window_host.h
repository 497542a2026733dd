#pragma once

// What the main window's logic needs from the real window: a millisecond clock, sleep,
// the message-queue peek and pump, modal message boxes, and the controls it drives.
// The Win32 main window binds these to its controls; tests bind them to fakes.

#include <cstdint>
#include <string>

#include "app/printer_protocol.h"
#include "platform/time.h"
#include "port/notification_windows.h"

namespace qx {

// The nine controls whose enabled state the logic decides, in SetControlsEnabled order.
enum class Control : int {
  AddButton,
  SetButton,
  GetButton,
  PrintButton,
  ExitButton,
  PortComboBox,
  K40VRadioButton,   // caption "QX-K40VI"
  K40IVRadioButton,  // caption "QX-K40V"
  K40VIRadioButton,  // caption "QX-K40VII"
};
inline constexpr int ControlCount = 9;

class MainWindowHost {
 public:
  virtual ~MainWindowHost() = default;

  // Milliseconds on a steady clock; only differences are used.
  virtual std::int64_t ElapsedMilliseconds() = 0;
  virtual void Sleep(int milliseconds) = 0;
  // PeekMessageA with PM_NOREMOVE: keeps the window from being reported as hung.
  virtual void PeekMessages() = 0;
  // Dispatches every pending window message (only during the restart wait of Set).
  virtual void ProcessMessages() = 0;
  // A modal message box owned by the main window, with an OK button.
  virtual void ShowMessage(const char* text, const char* title, MessageIcon icon) = 0;
  // On for the length of an exchange, whose byte polls and waits sleep 1 ms at a time;
  // off before its box, which may stay up for as long as the operator leaves it.
  virtual void SetFineSleeps(bool on) { on ? fineTimer_.Raise() : fineTimer_.Lower(); }

  virtual void SetLabel2(const std::string& text) = 0;
  virtual void SetProgress(int position) = 0;
  virtual void SetControlEnabled(Control control, bool enabled) = 0;
  // Whether a radio button is checked now (the operator changes them).
  virtual bool IsRadioChecked(Control radio) = 0;

  // PortComboBox: append an item; select an item from code (raises no change event).
  virtual void AddPortItem(const std::string& name) = 0;
  virtual void SelectPortItem(int index) = 0;

 private:
  FineTimerResolution fineTimer_;
};

}  // namespace qx
