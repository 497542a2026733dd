#pragma once

// Test equipment for the tests against the real Service Control Manager under Wine:
// installs our own small test service (qx_test_service.exe beside the test program)
// under a name of the test's own and removes it again.

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "services/win32_service_system.h"
#include "sim/engine/clock.h"

namespace qx::test {

// Raw state of a service, straight from the manager (0 when it cannot be read).
inline DWORD RawState(const std::string& name) {
  DWORD state = 0;
  if (SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT)) {
    if (SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS)) {
      SERVICE_STATUS status{};
      if (QueryServiceStatus(service, &status)) state = status.dwCurrentState;
      CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
  }
  return state;
}

// Waits (really) until the service is in `state`, at most `limitMs`.
inline bool WaitForRawState(const std::string& name, DWORD state, int limitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (RawState(name) != state) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

class TestService {
 public:
  // `arguments` go on the service's command line (see qx_test_service.cpp). The
  // service program is `binary`, by default qx_test_service.exe beside this program.
  TestService(std::string name, const std::string& arguments, std::string binary = {}) : name_(std::move(name)) {
    Remove();  // left over from a run that died
    if (binary.empty()) {
      char path[MAX_PATH] = {};
      GetModuleFileNameA(nullptr, path, MAX_PATH);
      binary = path;
      binary = binary.substr(0, binary.find_last_of("\\/") + 1) + "qx_test_service.exe";
    }
    const std::string command = "\"" + binary + "\" " + arguments;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return;
    SC_HANDLE service = CreateServiceA(manager, name_.c_str(), name_.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                       SERVICE_ERROR_IGNORE, command.c_str(), nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    installed_ = service != nullptr;
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
  }
  TestService(const TestService&) = delete;
  TestService& operator=(const TestService&) = delete;
  ~TestService() { Remove(); }

  bool Installed() const { return installed_; }
  const std::string& Name() const { return name_; }
  std::wstring WideName() const { return std::wstring(name_.begin(), name_.end()); }

 private:
  void Remove() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return;
    if (SC_HANDLE service = OpenServiceA(manager, name_.c_str(), SERVICE_ALL_ACCESS)) {
      SERVICE_STATUS status{};
      if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING) {
        ControlService(service, SERVICE_CONTROL_STOP, &status);
      }
      WaitForRawState(name_, SERVICE_STOPPED, 10000);
      DeleteService(service);
      CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    // Deletion completes once the last handle is closed; wait until the name is free.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (RawState(name_) != 0 && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  std::string name_;
  bool installed_ = false;
};

// The real manager and process walk on a fake clock: the sleeps cost nothing and move
// the clock on, so a wait limit passes at once while the service really lingers.
// StepPerQueryMs also moves it on at each status query, so that a long limit is
// reached in few (real, slower) manager calls.
class RealManagerFakeClock : public Win32ServiceSystem {
 public:
  RealManagerFakeClock() : Win32ServiceSystem(clock_) {}
  std::int64_t StepPerQueryMs = 0;

  bool QueryStatus(ScHandleValue service, ServiceStatus& status) override {
    const bool ok = Win32ServiceSystem::QueryStatus(service, status);
    clock_.Advance(StepPerQueryMs);
    return ok;
  }
  std::int64_t NowMs() const { return clock_.NowMilliseconds(); }

 private:
  sim::FakeClock clock_{5'000'000};
};

}  // namespace qx::test
