#include <windows.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <thread>

#include "cli/interrupts.h"

namespace qx::cli {

namespace {

// A console control handler gets no context of its own: the watched run is kept here,
// for the process, as the handler itself is.
std::mutex watchMutex;
InterruptTarget* watched = nullptr;
std::thread sessionThread;
std::atomic<DWORD> sessionThreadId{0};
std::atomic<bool> sessionThreadDone{false};

constexpr char SessionWindowClass[] = "QxModelSession";

const char* EventName(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT: return "Ctrl-C";
    case CTRL_BREAK_EVENT: return "Ctrl-Break";
    case CTRL_CLOSE_EVENT: return "console closed";
    case CTRL_LOGOFF_EVENT: return "logoff";
    case CTRL_SHUTDOWN_EVENT: return "shutdown";
    default: return "console event";
  }
}

// False when nothing is watched or the run ends by itself; otherwise the process ends.
bool EndRun(const char* reason) {
  std::lock_guard<std::mutex> lock(watchMutex);
  if (watched == nullptr) return false;
  const int code = watched->Interrupt(reason);
  if (code < 0) return false;
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  // The main thread may be inside an exchange, holding a lock of the run-time library:
  // nothing of it is to run on, not even the library's own clean-up.
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
  ExitProcess(static_cast<UINT>(code));
}

// Runs on a thread the system makes for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  std::unique_lock<std::mutex> lock(watchMutex);
  if (watched == nullptr) return FALSE;  // the next handler: the default ends the process
  lock.unlock();
  EndRun(EventName(event));
  return TRUE;  // the run has reported and ends by itself
}

// A program that loads user32 (qxmodel does, for the port library's windows) hears of
// logoff and shutdown as window messages, not as console events: a hidden top-level
// window of its own answers them.
LRESULT CALLBACK SessionProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      if (wParam != FALSE) EndRun((lParam & ENDSESSION_LOGOFF) != 0 ? "logoff" : "shutdown");
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

void RunSessionWindow() {
  struct Done {
    ~Done() { sessionThreadDone = true; }
  } done;
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = SessionProcedure;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = SessionWindowClass;
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, SessionWindowClass, "qxmodel", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
  if (window == nullptr) return;
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists: the watch can end it
  sessionThreadId = GetCurrentThreadId();
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_APP) DestroyWindow(window);  // the watch ends
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace

void WatchInterrupts(InterruptTarget* target) {
  {
    std::lock_guard<std::mutex> lock(watchMutex);
    const bool was = watched != nullptr;
    watched = target;
    if (target != nullptr) {
      if (was) return;
      SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
      sessionThreadId = 0;
      sessionThreadDone = false;
      sessionThread = std::thread(RunSessionWindow);
      return;
    }
    if (!was) return;
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  }
  // Outside the lock: the window's thread may be waiting for it to report. Its queue
  // may not exist yet; it takes moments, not seconds.
  for (int tries = 0; tries < 1000 && !sessionThreadDone; ++tries) {
    const DWORD id = sessionThreadId;
    if (id != 0 && PostThreadMessageA(id, WM_APP, 0, 0)) break;
    Sleep(5);
  }
  sessionThread.join();
}

}  // namespace qx::cli
