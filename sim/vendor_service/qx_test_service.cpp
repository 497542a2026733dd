// A small service of our own for the tests against the real Service Control Manager.
// Command line (from the service's binary path):
//   linger=MS      stay in stop-pending this long after a stop request
//   fail-start=N   report stopped with ERROR_SERVICE_SPECIFIC_ERROR and code N instead
//                  of running
//   quit-start     report stopped without any exit code instead of running
//   start-delay=MS stay in start-pending this long before running
// It stops by itself after five minutes, so a test that dies cannot leave it behind
// for long.

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

SERVICE_STATUS_HANDLE statusHandle = nullptr;
HANDLE stopEvent = nullptr;
DWORD lingerMs = 0;
DWORD failStartCode = 0;
bool quitStart = false;
DWORD startDelayMs = 0;

void Report(DWORD state, DWORD win32Exit = NO_ERROR, DWORD specificExit = 0, DWORD waitHint = 0) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwWin32ExitCode = win32Exit;
  status.dwServiceSpecificExitCode = specificExit;
  status.dwWaitHint = waitHint;
  SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      Report(SERVICE_STOP_PENDING, NO_ERROR, 0, lingerMs + 1000);
      SetEvent(stopEvent);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv) {
  statusHandle = RegisterServiceCtrlHandlerExW(argc > 0 ? argv[0] : L"", Handler, nullptr);
  if (statusHandle == nullptr) return;
  if (failStartCode != 0 || quitStart) {
    Report(SERVICE_START_PENDING, NO_ERROR, 0, 2000);
    Sleep(200);
    Report(SERVICE_STOPPED, quitStart ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR, failStartCode);
    return;
  }
  if (startDelayMs > 0) {
    Report(SERVICE_START_PENDING, NO_ERROR, 0, startDelayMs + 1000);
    Sleep(startDelayMs);
  }
  Report(SERVICE_RUNNING);
  WaitForSingleObject(stopEvent, 5 * 60 * 1000);
  if (lingerMs > 0) Sleep(lingerMs);
  Report(SERVICE_STOPPED);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "linger=", 7) == 0) lingerMs = std::strtoul(argv[i] + 7, nullptr, 10);
    if (std::strncmp(argv[i], "fail-start=", 11) == 0) {
      failStartCode = std::strtoul(argv[i] + 11, nullptr, 10);
    }
    if (std::strcmp(argv[i], "quit-start") == 0) quitStart = true;
    if (std::strncmp(argv[i], "start-delay=", 12) == 0) startDelayMs = std::strtoul(argv[i] + 12, nullptr, 10);
  }
  stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  wchar_t name[] = L"";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
