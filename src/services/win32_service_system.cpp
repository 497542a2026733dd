#include "services/win32_service_system.h"

#include <windows.h>
#include <tlhelp32.h>


namespace qx {

namespace {

SC_HANDLE AsHandle(ScHandleValue value) { return reinterpret_cast<SC_HANDLE>(value); }
ScHandleValue AsValue(SC_HANDLE handle) { return reinterpret_cast<ScHandleValue>(handle); }

void CopyStatus(const SERVICE_STATUS& from, ServiceStatus& to) {
  to.ServiceType = from.dwServiceType;
  to.CurrentState = from.dwCurrentState;
  to.ControlsAccepted = from.dwControlsAccepted;
  to.Win32ExitCode = from.dwWin32ExitCode;
  to.ServiceSpecificExitCode = from.dwServiceSpecificExitCode;
  to.CheckPoint = from.dwCheckPoint;
  to.WaitHint = from.dwWaitHint;
}

// Owns a kernel handle (the process snapshot).
class KernelHandle {
 public:
  explicit KernelHandle(HANDLE handle) : handle_(handle) {}
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;
  ~KernelHandle() {
    if (Valid()) CloseHandle(handle_);
  }
  bool Valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

}  // namespace

ScHandleValue Win32ServiceSystem::OpenManager(std::uint32_t access) {
  SC_HANDLE handle = OpenSCManagerA(nullptr, nullptr, access);
  return AsValue(handle);
}

ScHandleValue Win32ServiceSystem::OpenServiceAnsi(ScHandleValue manager, const std::string& name,
                                                  std::uint32_t access) {
  SC_HANDLE handle = OpenServiceA(AsHandle(manager), name.c_str(), access);
  return AsValue(handle);
}

ScHandleValue Win32ServiceSystem::OpenServiceWide(ScHandleValue manager, const std::wstring& name,
                                                  std::uint32_t access) {
  SC_HANDLE handle = OpenServiceW(AsHandle(manager), name.c_str(), access);
  return AsValue(handle);
}

bool Win32ServiceSystem::QueryStatus(ScHandleValue service, ServiceStatus& status) {
  SERVICE_STATUS raw{};
  const bool ok = QueryServiceStatus(AsHandle(service), &raw) != FALSE;
  if (ok) CopyStatus(raw, status);
  return ok;
}

bool Win32ServiceSystem::ControlStop(ScHandleValue service, ServiceStatus& status) {
  SERVICE_STATUS raw{};
  const bool ok = ControlService(AsHandle(service), SERVICE_CONTROL_STOP, &raw) != FALSE;
  CopyStatus(raw, status);
  return ok;
}

bool Win32ServiceSystem::Start(ScHandleValue service) {
  const bool ok = StartServiceA(AsHandle(service), 0, nullptr) != FALSE;
  return ok;
}

bool Win32ServiceSystem::Dependents(ScHandleValue service, std::uint32_t states, std::vector<std::wstring>& names) {
  names.clear();
  DWORD needed = 0;
  DWORD count = 0;
  if (EnumDependentServicesW(AsHandle(service), states, nullptr, 0, &needed, &count)) {
    return true;  // nothing needed: no dependents
  }
  if (GetLastError() != ERROR_MORE_DATA || needed == 0) return false;

  // The records are followed by their strings in the same buffer; keep it aligned.
  std::vector<ENUM_SERVICE_STATUSW> buffer(needed / sizeof(ENUM_SERVICE_STATUSW) + 1);
  const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(ENUM_SERVICE_STATUSW));
  if (!EnumDependentServicesW(AsHandle(service), states, buffer.data(), size, &needed,
                              &count)) {
    return false;
  }
  for (DWORD i = 0; i < count && i < buffer.size(); ++i) {
    if (buffer[i].lpServiceName != nullptr) names.emplace_back(buffer[i].lpServiceName);
  }
  return true;
}

void Win32ServiceSystem::Close(ScHandleValue handle) {
  if (handle != 0) CloseServiceHandle(AsHandle(handle));
}

std::uint32_t Win32ServiceSystem::LastError() { return GetLastError(); }

bool Win32ServiceSystem::ProcessNames(std::vector<std::wstring>& names) {
  names.clear();
  KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) return false;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  // Bounded walk: a snapshot is finite, the cap only guards against a broken one.
  constexpr int MaxProcesses = 65536;
  for (BOOL more = Process32FirstW(snapshot.Get(), &entry);
       more && static_cast<int>(names.size()) < MaxProcesses;
       more = Process32NextW(snapshot.Get(), &entry)) {
    entry.szExeFile[MAX_PATH - 1] = L'\0';
    names.emplace_back(entry.szExeFile);
    entry.dwSize = sizeof(entry);
  }
  return true;
}

ServiceSystem& SystemServices() {
  static Win32ServiceSystem system;
  return system;
}

}  // namespace qx
