#include <windows.h>

#include <cstdio>
#include <iostream>
#include <mutex>

#include "cli/interrupts.h"

namespace qx::cli {

namespace {

// A console control handler gets no context of its own: the watched run is kept here,
// for the process, as the handler itself is.
std::mutex watchMutex;
InterruptTarget* watched = nullptr;

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

// Runs on a thread the system makes for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  std::lock_guard<std::mutex> lock(watchMutex);
  if (watched == nullptr) return FALSE;  // the next handler: the default ends the process
  const int code = watched->Interrupt(EventName(event));
  if (code < 0) return TRUE;  // the run has reported and ends by itself
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  // The main thread may be inside an exchange: nothing of it is to run on.
  ExitProcess(static_cast<UINT>(code));
}

}  // namespace

void WatchInterrupts(InterruptTarget* target) {
  std::lock_guard<std::mutex> lock(watchMutex);
  if (target != nullptr && watched == nullptr) SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  if (target == nullptr && watched != nullptr) SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  watched = target;
}

}  // namespace qx::cli
