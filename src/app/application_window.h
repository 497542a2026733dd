#pragma once

// The application's own top-level window: hidden from view (no size), it carries the
// taskbar button and the title a second instance looks for. Restoring or activating it
// brings the main window forward.

#include <windows.h>

namespace qx {

class ApplicationWindow {
 public:
  explicit ApplicationWindow(HINSTANCE instance);
  ~ApplicationWindow();
  ApplicationWindow(const ApplicationWindow&) = delete;
  ApplicationWindow& operator=(const ApplicationWindow&) = delete;

  HWND Handle() const { return window_; }
  // Removes the window now (before the exit steps), not when the object goes.
  void Destroy();
  // The window that restoring and activation hand on to.
  void SetMainWindow(HWND main) { main_ = main; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void BringMainForward();

  HWND window_ = nullptr;
  HWND main_ = nullptr;
};

// The single-instance rule. True when this is the first instance (the mutex handle is
// kept in `mutex` for the whole run); false when the process must end with -1, after a
// running instance with a window on screen (shown or minimised) was brought forward.
bool ClaimSingleInstance(HANDLE& mutex);

}  // namespace qx
