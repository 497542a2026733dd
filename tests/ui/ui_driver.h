#pragma once

// A small UI driver: starts the utility, finds its windows, clicks its buttons, reads
// and dismisses its message boxes, takes screenshots. Every wait is bounded. Used by
// the UI tests and by the demo.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <algorithm>
#include <string>
#include <vector>

#include "app/main_window_ids.h"
#include "support/screenshot.h"

namespace qx::uitest {

inline std::int64_t Now() { return static_cast<std::int64_t>(GetTickCount64()); }

// Polls `done` every 20 ms until it holds or `limitMs` passed.
inline bool WaitFor(const std::function<bool()>& done, int limitMs) {
  const std::int64_t end = Now() + limitMs;
  for (;;) {
    if (done()) return true;
    if (Now() >= end) return false;
    Sleep(20);
  }
}

// A Unix path as Wine's Z: drive shows it.
inline std::string WindowsPath(std::string path) {
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

inline std::string Text(HWND window) {
  char buffer[512] = {};
  DWORD_PTR got = 0;
  SendMessageTimeoutA(window, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000,
                      &got);
  return buffer;
}

inline std::string ClassOf(HWND window) {
  char buffer[128] = {};
  GetClassNameA(window, buffer, sizeof buffer);
  return buffer;
}

// The text of one item of another process's combo box (the W form is marshalled).
inline std::string ComboItem(HWND combo, int index) {
  wchar_t buffer[256] = {};
  if (SendMessageW(combo, CB_GETLBTEXTLEN, index, 0) >= 255) return {};
  SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buffer));
  char text[512] = {};
  WideCharToMultiByte(CP_ACP, 0, buffer, -1, text, sizeof text, nullptr, nullptr);
  return text;
}

// Every visible top-level window, of any process.
inline std::vector<HWND> VisibleTopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        if (IsWindowVisible(window)) reinterpret_cast<std::vector<HWND>*>(data)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  std::sort(windows.begin(), windows.end());
  return windows;
}

// A visible top-level window of a process and class (and owner, when given: message boxes).
inline HWND FindTopLevel(DWORD process, const char* windowClass, HWND owner = nullptr) {
  for (HWND window : VisibleTopLevelWindows()) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == process && ClassOf(window) == windowClass && (owner == nullptr || GetWindow(window, GW_OWNER) == owner)) {
      return window;
    }
  }
  return nullptr;
}

struct MessageBoxSeen {
  HWND window = nullptr;
  std::string title;
  std::string text;
};

// One running copy of the utility.
class App {
 public:
  App() = default;
  App(const App&) = delete;
  App& operator=(const App&) = delete;
  ~App() { Kill(); }

  bool Start(const std::string& exe) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string command = "\"" + WindowsPath(exe) + "\"";
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_)) {
      return false;
    }
    CloseHandle(info_.hThread);
    return true;
  }
  DWORD Id() const { return info_.dwProcessId; }

  // Waits for the main window to be shown (the service steps run before it is).
  HWND WaitMainWindow(int limitMs = 60000) {
    WaitFor([&] { return (main_ = FindTopLevel(Id(), ui::MainWindowClass)) != nullptr || Exited(); }, limitMs);
    return main_;
  }
  HWND Main() const { return main_; }
  HWND ApplicationWindow() const { return main_ ? GetWindow(main_, GW_OWNER) : nullptr; }
  HWND Control(int id) const { return GetDlgItem(main_, id); }

  // BM_CLICK is posted: the handler may show a modal box.
  void Click(int id) const { PostMessageA(Control(id), BM_CLICK, 0, 0); }
  void Click(HWND button) const { PostMessageA(button, BM_CLICK, 0, 0); }

  MessageBoxSeen WaitMessageBox(int limitMs) const {
    MessageBoxSeen box;
    WaitFor([&] { return (box.window = FindTopLevel(Id(), "#32770", main_)) != nullptr; }, limitMs);
    if (box.window != nullptr) {
      // Give the box a moment to fill in its controls.
      WaitFor([&] { return GetDlgItem(box.window, 0xFFFF) != nullptr && GetDlgItem(box.window, IDOK) != nullptr; },
              2000);
      char text[512] = {};
      GetDlgItemTextA(box.window, 0xFFFF, text, sizeof text);
      box.text = text;
      box.title = Text(box.window);
    }
    return box;
  }
  bool Dismiss(const MessageBoxSeen& box) const {
    if (box.window == nullptr) return false;
    PostMessageA(GetDlgItem(box.window, IDOK), BM_CLICK, 0, 0);
    return WaitFor([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); }, 5000);
  }

  bool Exited() const { return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_OBJECT_0; }
  // The exit code once the process ended within the limit.
  bool WaitExit(int limitMs, DWORD& code) {
    if (info_.hProcess == nullptr || WaitForSingleObject(info_.hProcess, limitMs) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(info_.hProcess, &code);
    return true;
  }
  // Exit button, then the exit code (the service steps at exit may take a while).
  bool Exit(DWORD& code, int limitMs = 60000) {
    Click(ui::ExitButtonId);
    return WaitExit(limitMs, code);
  }
  void Kill() {
    if (info_.hProcess == nullptr) return;
    if (!Exited()) {
      TerminateProcess(info_.hProcess, 99);
      WaitForSingleObject(info_.hProcess, 10000);
    }
    CloseHandle(info_.hProcess);
    info_.hProcess = nullptr;
  }

 private:
  PROCESS_INFORMATION info_{};
  HWND main_ = nullptr;
};

// The whole screen as a 24-bit BMP file.
inline bool SaveScreenshot(const std::string& path) { return test::SaveScreenshot(WindowsPath(path)); }

}  // namespace qx::uitest
