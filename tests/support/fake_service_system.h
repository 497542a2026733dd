#pragma once

// A fake Service Control Manager with a fake clock, for the service algorithms. Services
// move through their pending states by the fake clock, which only the sleeps advance.
// Every manager call is logged, so tests can assert the exact order of requests.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "services/service_system.h"
#include "sim/engine/clock.h"

namespace qx::test {

struct FakeService {
  std::wstring Name;
  std::uint32_t State = ServiceStopped;
  // Every service that depends on this one, in the manager's order; the enumeration
  // filters them by state (active: not stopped).
  std::vector<std::wstring> Dependents;
  // After a stop (start) request the service stays pending this long, then reaches
  // its state at the next query. Negative: pending for ever.
  std::int64_t StopTakesMs = 0;
  std::int64_t StartTakesMs = 0;
  // Failures of single calls (0 = the call works).
  std::uint32_t OpenError = 0;
  std::uint32_t QueryError = 0;
  std::uint32_t StopError = 0;
  std::uint32_t StartError = 0;
  bool EnumerationFails = false;
  // Reported in the status record.
  std::uint32_t Win32ExitCode = 0;
  std::uint32_t SpecificExitCode = 0;
  // Runs on each status query (after the pending state has been advanced).
  std::function<void(FakeService&, std::int64_t nowMs)> OnQuery;

  std::int64_t PendingUntil = -1;
};

struct FakeProcess {
  std::wstring Name;
  std::int64_t EndsAtMs = -1;  // fake time at which it has gone; negative: never
};

class FakeServiceSystem : public ServiceSystem {
 public:
  // The fake clock starts at this many milliseconds (mid-second unless a test says).
  explicit FakeServiceSystem(std::int64_t startMs = 1'000'000) : clock_(startMs) {}

  FakeService& Add(const std::wstring& name, std::uint32_t state) {
    FakeService& service = services_[Key(name)];
    service.Name = name;
    service.State = state;
    return service;
  }
  FakeService& Service(const std::wstring& name) { return services_.at(Key(name)); }
  std::uint32_t StateOf(const std::wstring& name) { return Service(name).State; }

  std::vector<FakeProcess> Processes;
  bool SnapshotFails = false;
  bool ManagerFails = false;
  // Every failed call leaves its last error at 0 (nothing makes a failing call set it).
  bool LosesLastError = false;

  // The log, and views of it: entries that begin with one of the prefixes.
  const std::vector<std::string>& Log() const { return log_; }
  std::vector<std::string> LogOf(std::initializer_list<std::string> prefixes) const {
    std::vector<std::string> out;
    for (const std::string& line : log_) {
      for (const std::string& prefix : prefixes) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
          out.push_back(line);
          break;
        }
      }
    }
    return out;
  }
  std::vector<std::string> Requests() const { return LogOf({"Stop ", "Start "}); }
  void ClearLog() { log_.clear(); }
  int OpenHandles() const { return static_cast<int>(handles_.size()); }
  std::int64_t NowMs() const { return clock_.NowMilliseconds(); }
  sim::FakeClock& FakeTime() { return clock_; }
  // Fake times at which the process list was read.
  const std::vector<std::int64_t>& SnapshotTimes() const { return snapshotTimes_; }

  ScHandleValue OpenManager(std::uint32_t access) override {
    log_.push_back("OpenSCManager " + Hex(access));
    if (ManagerFails) return FailHandle(ErrorAccessDenied);
    return NewHandle({true, L"", access});
  }
  ScHandleValue OpenServiceAnsi(ScHandleValue manager, const std::string& name,
                                std::uint32_t access) override {
    log_.push_back("OpenServiceA " + name + " " + Hex(access));
    return OpenNamed(manager, std::wstring(name.begin(), name.end()), access);
  }
  ScHandleValue OpenServiceWide(ScHandleValue manager, const std::wstring& name,
                                std::uint32_t access) override {
    log_.push_back("OpenServiceW " + Narrow(name) + " " + Hex(access));
    return OpenNamed(manager, name, access);
  }
  bool QueryStatus(ScHandleValue handle, ServiceStatus& status) override {
    FakeService* service = nullptr;
    if (auto error = Request("Query ", handle, ServiceQueryStatusAccess, &FakeService::QueryError, service)) {
      return Fail(error);
    }
    if (service->OnQuery) service->OnQuery(*service, NowMs());
    Fill(*service, status);
    return Succeed();
  }
  bool ControlStop(ScHandleValue handle, ServiceStatus& status) override {
    FakeService* service = nullptr;
    if (auto error = Request("Stop ", handle, ServiceStopAccess, &FakeService::StopError, service)) return Fail(error);
    if (service->State == ServiceStopped) return Fail(1062);  // ERROR_SERVICE_NOT_ACTIVE
    if (service->State != ServiceRunning) return Fail(1061);  // ERROR_SERVICE_CANNOT_ACCEPT_CTRL
    for (const std::wstring& name : service->Dependents) {
      auto it = services_.find(Key(name));
      if (it != services_.end() && it->second.State != ServiceStopped) {
        return Fail(1051);  // ERROR_DEPENDENT_SERVICES_RUNNING
      }
    }
    service->State = ServiceStopPending;
    service->PendingUntil = service->StopTakesMs < 0 ? -1 : NowMs() + service->StopTakesMs;
    Fill(*service, status);
    return Succeed();
  }
  bool Start(ScHandleValue handle) override {
    FakeService* service = nullptr;
    if (auto error = Request("Start ", handle, ServiceStartAccess, &FakeService::StartError, service)) {
      return Fail(error);
    }
    if (service->State != ServiceStopped) return Fail(1056);  // ERROR_SERVICE_ALREADY_RUNNING
    service->State = ServiceStartPending;
    service->PendingUntil = service->StartTakesMs < 0 ? -1 : NowMs() + service->StartTakesMs;
    return Succeed();
  }
  bool Dependents(ScHandleValue handle, std::uint32_t states, std::vector<std::wstring>& names) override {
    names.clear();
    FakeService* service = ServiceOf(handle);
    log_.push_back("Enum " + NameOf(handle));
    if (service == nullptr) return Fail(6);
    if (!Allowed(handle, ServiceEnumerateDependentsAccess)) return Fail(ErrorAccessDenied);
    if (service->EnumerationFails) return Fail(ErrorAccessDenied);
    for (const std::wstring& name : service->Dependents) {
      auto it = services_.find(Key(name));
      if (it == services_.end()) continue;
      const bool active = it->second.State != ServiceStopped;
      if ((states & (active ? DependentsActive : 2u)) != 0) names.push_back(name);
    }
    return Succeed();
  }
  void Close(ScHandleValue handle) override {
    log_.push_back("Close " + NameOf(handle));
    handles_.erase(handle);
    // A later successful call may clear the thread's error: the code must be read first.
    lastError_ = 0;
  }
  std::uint32_t LastError() override { return LosesLastError ? 0 : lastError_; }

  bool ProcessNames(std::vector<std::wstring>& names) override {
    log_.push_back("Processes");
    snapshotTimes_.push_back(NowMs());
    names.clear();
    if (SnapshotFails) return Fail(ErrorAccessDenied);
    names.push_back(L"[System Process]");
    for (const FakeProcess& process : Processes) {
      if (process.EndsAtMs < 0 || NowMs() < process.EndsAtMs) names.push_back(process.Name);
    }
    return Succeed();
  }

  Clock& Time() override { return clock_; }

  static std::string Narrow(const std::wstring& name) { return std::string(name.begin(), name.end()); }

 private:
  struct Handle {
    bool Manager = false;
    std::wstring Name;
    std::uint32_t Access = 0;
  };

  static std::wstring Key(const std::wstring& name) {
    std::wstring key = name;
    for (wchar_t& c : key) {
      if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    }
    return key;
  }
  static std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
  }

  bool Fail(std::uint32_t error) {
    lastError_ = error;
    return false;
  }
  ScHandleValue FailHandle(std::uint32_t error) {
    lastError_ = error;
    return 0;
  }
  bool Succeed() {
    lastError_ = 0;
    return true;
  }
  ScHandleValue NewHandle(Handle handle) {
    const ScHandleValue value = nextHandle_++;
    handles_[value] = std::move(handle);
    lastError_ = 0;
    return value;
  }
  ScHandleValue OpenNamed(ScHandleValue manager, const std::wstring& name, std::uint32_t access) {
    auto owner = handles_.find(manager);
    if (owner == handles_.end() || !owner->second.Manager) return FailHandle(6);
    auto it = services_.find(Key(name));
    if (it == services_.end()) return FailHandle(ErrorServiceDoesNotExist);
    if (it->second.OpenError != 0) return FailHandle(it->second.OpenError);
    return NewHandle({false, name, access});
  }
  // Logs a request on a service handle and brings the service's pending state up to date;
  // the error it meets first (0: none): a bad handle, a missing right, the service's refusal.
  std::uint32_t Request(const char* what, ScHandleValue handle, std::uint32_t right,
                        std::uint32_t FakeService::*refusal, FakeService*& service) {
    service = ServiceOf(handle);
    log_.push_back(what + NameOf(handle));
    if (service == nullptr) return 6;  // ERROR_INVALID_HANDLE
    if (!Allowed(handle, right)) return ErrorAccessDenied;
    if (service->*refusal != 0) return service->*refusal;
    Advance(*service);
    return 0;
  }
  FakeService* ServiceOf(ScHandleValue handle) {
    auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.Manager) return nullptr;
    auto service = services_.find(Key(it->second.Name));
    return service == services_.end() ? nullptr : &service->second;
  }
  std::string NameOf(ScHandleValue handle) const {
    auto it = handles_.find(handle);
    if (it == handles_.end()) return "?";
    return it->second.Manager ? std::string("manager") : Narrow(it->second.Name);
  }
  bool Allowed(ScHandleValue handle, std::uint32_t right) const {
    auto it = handles_.find(handle);
    return it != handles_.end() && (it->second.Access & right) == right;
  }
  void Advance(FakeService& service) {
    const bool pending = service.State == ServiceStopPending || service.State == ServiceStartPending;
    if (!pending || service.PendingUntil < 0 || NowMs() < service.PendingUntil) return;
    service.State = service.State == ServiceStopPending ? ServiceStopped : ServiceRunning;
    service.PendingUntil = -1;
  }
  static void Fill(const FakeService& service, ServiceStatus& status) {
    status = ServiceStatus{};
    status.ServiceType = 0x10;  // SERVICE_WIN32_OWN_PROCESS
    status.CurrentState = service.State;
    status.Win32ExitCode = service.Win32ExitCode;
    status.ServiceSpecificExitCode = service.SpecificExitCode;
  }

  std::map<std::wstring, FakeService> services_;
  std::map<ScHandleValue, Handle> handles_;
  ScHandleValue nextHandle_ = 0x100;
  std::uint32_t lastError_ = 0;
  sim::FakeClock clock_;
  std::vector<std::string> log_;
  std::vector<std::int64_t> snapshotTimes_;
};

}  // namespace qx::test
