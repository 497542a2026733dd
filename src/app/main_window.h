#pragma once

// The main window: a plain Win32 window bound to MainWindowLogic through the host
// interface. Constructing it builds the controls, stops the services, sets up the port
// table and lists the USB devices; destroying it removes the window, then destroys the
// ports and starts the services again. A logoff or shutdown does the same at once.

#include <windows.h>

#include <exception>
#include <memory>
#include <utility>

#include "app/main_window_host.h"
#include "app/main_window_logic.h"
#include "app/theme_repaint_fix.h"
#include "services/service_steps.h"
#include "services/win32_service_system.h"

namespace qx {

class MainWindow final : public MainWindowHost {
 public:
  // `owner` is the application window (it carries the taskbar button).
  MainWindow(HINSTANCE instance, HWND owner);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  HWND Handle() const { return window_; }
  // Shown once constructed, as the message loop begins.
  void Show();
  // Removes the window now; the destructor then only runs the exit steps.
  void DestroyWindowNow();
  // An exception thrown inside a window procedure ends the message loop; the entry
  // rethrows it from here.
  std::exception_ptr TakeFailure() { return std::exchange(failure_, nullptr); }

  // MainWindowHost
  std::int64_t ElapsedMilliseconds() override;
  void Sleep(int milliseconds) override;
  void PeekMessages() override;
  void ProcessMessages() override;
  void ShowMessage(const char* text, const char* title, MessageIcon icon) override;
  void SetLabel2(const std::string& text) override;
  void SetProgress(int position) override;
  void SetControlEnabled(Control control, bool enabled) override;
  bool IsRadioChecked(Control radio) override;
  void AddPortItem(const std::string& name) override;
  void SelectPortItem(int index) override;

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnCommand(int id, int code);
  void BuildControls(HINSTANCE instance);
  void Layout(int dpi);
  HWND Item(int id) const { return GetDlgItem(window_, id); }
  void ListUsbDevices();
  // Both windows off the screen (the application window too) the moment a close is
  // accepted.
  void HideWindows();
  // Logoff or shutdown: the exit steps now, then the process ends.
  [[noreturn]] void EndSession();

  HWND owner_;
  HWND window_ = nullptr;
  HFONT font_ = nullptr;
  std::exception_ptr failure_;
  // Declared before the logic: the services are stopped before the ports are made and
  // started after they are gone.
  ServiceSteps services_{SystemServices()};
  MainWindowLogic logic_;
  // Made once the window is built, freed when a close goes ahead.
  std::unique_ptr<ThemeRepaintFix> themeFix_;
};

// Handles one message of the program's loops: F1 is swallowed (no help), the main
// window gets dialog-style keyboard navigation. False when the message was WM_QUIT.
bool DispatchProgramMessage(MSG& message, HWND mainWindow);

}  // namespace qx
