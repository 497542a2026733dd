#include "app/application_window.h"

#include <stdexcept>

#include "app/main_window_ids.h"

namespace qx {

namespace {

// Posted to itself: activation is handed on after the system finished activating.
constexpr UINT BringForwardMessage = WM_APP + 1;

}  // namespace

ApplicationWindow::ApplicationWindow(HINSTANCE instance) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = Procedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
  windowClass.hIconSm = windowClass.hIcon;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.lpszClassName = ui::ApplicationClass;
  if (RegisterClassExA(&windowClass) == 0) throw std::runtime_error("The application window class could not be registered.");
  const int x = GetSystemMetrics(SM_CXSCREEN) / 2;
  const int y = GetSystemMetrics(SM_CYSCREEN) / 2;
  window_ = CreateWindowExA(0, ui::ApplicationClass, ui::ApplicationTitle,
                            WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, x, y, 0, 0,
                            nullptr, nullptr, instance, this);
  if (window_ == nullptr) throw std::runtime_error("The application window could not be created.");
  ShowWindow(window_, SW_SHOWNOACTIVATE);
}

ApplicationWindow::~ApplicationWindow() { Destroy(); }

void ApplicationWindow::Destroy() {
  main_ = nullptr;
  if (window_ != nullptr) {
    SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
    window_ = nullptr;
  }
}

LRESULT CALLBACK ApplicationWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<ApplicationWindow*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<ApplicationWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  return self ? self->OnMessage(message, wParam, lParam) : DefWindowProcA(window, message, wParam, lParam);
}

LRESULT ApplicationWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SYSCOMMAND:
      switch (wParam & 0xFFF0) {
        case SC_MINIMIZE:
          // The main window goes with the taskbar button.
          if (main_ != nullptr) ShowWindow(main_, SW_HIDE);
          return DefWindowProcA(window_, message, wParam, lParam);
        case SC_RESTORE: {
          const LRESULT result = DefWindowProcA(window_, message, wParam, lParam);
          if (main_ != nullptr) ShowWindow(main_, SW_SHOW);
          BringMainForward();
          return result;
        }
        case SC_CLOSE:
          if (main_ != nullptr) PostMessageA(main_, WM_CLOSE, 0, 0);
          return 0;
        default:
          break;
      }
      break;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && !IsIconic(window_)) PostMessageA(window_, BringForwardMessage, 0, 0);
      return 0;
    case BringForwardMessage:
      BringMainForward();
      return 0;
    case WM_HELP:
      return TRUE;
    case WM_CLOSE:
      if (main_ != nullptr) PostMessageA(main_, WM_CLOSE, 0, 0);
      return 0;
    case WM_ENDSESSION:
      // Whichever window hears of it first, the main window runs the exit steps.
      if (main_ != nullptr) SendMessageA(main_, WM_ENDSESSION, wParam, lParam);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window_, message, wParam, lParam);
}

void ApplicationWindow::BringMainForward() {
  if (main_ == nullptr || !IsWindowVisible(main_)) return;
  // A message box of the main window, when one is up, is what comes forward.
  HWND target = GetLastActivePopup(main_);
  if (target == nullptr || !IsWindowVisible(target)) target = main_;
  SetForegroundWindow(target);
  SetActiveWindow(target);
}

bool ClaimSingleInstance(HANDLE& mutex) {
  mutex = CreateMutexA(nullptr, FALSE, ui::MutexName);
  if (mutex == nullptr) return false;
  if (GetLastError() != ERROR_ALREADY_EXISTS) return true;
  CloseHandle(mutex);
  mutex = nullptr;
  // A first instance that is finishing its exit steps has hidden or destroyed its
  // windows: there is nothing to bring forward, and this copy must not start while the
  // spooler is being restarted. It ends as when no window is found.
  HWND running = FindWindowA(ui::ApplicationClass, ui::ApplicationTitle);
  if (running != nullptr && IsWindowVisible(running)) {
    if (IsIconic(running)) SendMessageA(running, WM_SYSCOMMAND, SC_RESTORE, 0);
    SetForegroundWindow(running);
  }
  return false;
}

}  // namespace qx
