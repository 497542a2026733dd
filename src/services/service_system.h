#pragma once

// The thin seam under service and spooler control: the Service Control Manager calls,
// the process walk, and which clock the waits use. The production binding (Windows
// only) is over the real manager, Toolhelp and the system clock; tests bind a fake
// manager with a fake clock.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace qx {

// The manager's service states and values, as the Service Control Manager numbers them.
inline constexpr std::uint32_t ServiceStopped = 1;
inline constexpr std::uint32_t ServiceStartPending = 2;
inline constexpr std::uint32_t ServiceStopPending = 3;
inline constexpr std::uint32_t ServiceRunning = 4;
inline constexpr std::uint32_t ServiceContinuePending = 5;
inline constexpr std::uint32_t ServicePausePending = 6;
inline constexpr std::uint32_t ServicePaused = 7;

inline constexpr std::uint32_t ManagerAccess = 0x20000000;  // GENERIC_EXECUTE
inline constexpr std::uint32_t DependentsActive = 1;  // SERVICE_ACTIVE
inline constexpr std::uint32_t DependentsAll = 3;     // SERVICE_STATE_ALL
// SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP
inline constexpr std::uint32_t ServiceQueryStatusAccess = 0x0004;
inline constexpr std::uint32_t ServiceStartAccess = 0x0010;
inline constexpr std::uint32_t ServiceStopAccess = 0x0020;
inline constexpr std::uint32_t ServiceControlAccess = 0x34;
inline constexpr std::uint32_t ServiceEnumerateDependentsAccess = 0x0008;

inline constexpr std::uint32_t ErrorAccessDenied = 5;
inline constexpr std::uint32_t ErrorGenFailure = 31;
inline constexpr std::uint32_t ErrorServiceRequestTimeout = 1053;
inline constexpr std::uint32_t ErrorServiceAlreadyRunning = 1056;
inline constexpr std::uint32_t ErrorServiceDoesNotExist = 1060;
inline constexpr std::uint32_t ErrorServiceCannotAcceptControl = 1061;
inline constexpr std::uint32_t ErrorServiceNotActive = 1062;
inline constexpr std::uint32_t ErrorServiceSpecific = 1066;
inline constexpr std::uint32_t ErrorTimeout = 1460;

// The manager's status record (SERVICE_STATUS), field for field.
struct ServiceStatus {
  std::uint32_t ServiceType = 0;
  std::uint32_t CurrentState = 0;
  std::uint32_t ControlsAccepted = 0;
  std::uint32_t Win32ExitCode = 0;
  std::uint32_t ServiceSpecificExitCode = 0;
  std::uint32_t CheckPoint = 0;
  std::uint32_t WaitHint = 0;
};

// A manager or service handle value; 0 is "no handle".
using ScHandleValue = std::uintptr_t;

class ServiceSystem {
 public:
  ServiceSystem() = default;
  ServiceSystem(const ServiceSystem&) = delete;
  ServiceSystem& operator=(const ServiceSystem&) = delete;
  virtual ~ServiceSystem() = default;

  // Service Control Manager. A failing call returns 0 or false and leaves its code
  // for LastError(), which must be read before any other call.
  virtual ScHandleValue OpenManager(std::uint32_t access) = 0;                  // OpenSCManagerA
  virtual ScHandleValue OpenServiceAnsi(ScHandleValue manager, const std::string& name,
                                        std::uint32_t access) = 0;              // OpenServiceA
  virtual ScHandleValue OpenServiceWide(ScHandleValue manager, const std::wstring& name,
                                        std::uint32_t access) = 0;              // OpenServiceW
  virtual bool QueryStatus(ScHandleValue service, ServiceStatus& status) = 0;  // QueryServiceStatus
  // ControlService with SERVICE_CONTROL_STOP.
  virtual bool ControlStop(ScHandleValue service, ServiceStatus& status) = 0;
  virtual bool Start(ScHandleValue service) = 0;  // StartServiceA, no arguments
  // EnumDependentServicesW with this state filter (DependentsActive, DependentsAll):
  // the key names in the manager's order. False when the enumeration failed (names
  // then stays empty).
  virtual bool Dependents(ScHandleValue service, std::uint32_t states, std::vector<std::wstring>& names) = 0;
  virtual void Close(ScHandleValue handle) = 0;  // CloseServiceHandle
  virtual std::uint32_t LastError() = 0;

  // The executable names of the running processes (a Toolhelp walk); false when no
  // snapshot could be taken.
  virtual bool ProcessNames(std::vector<std::wstring>& names) = 0;

  // The clock of every wait: polling intervals, the single services' limit in whole
  // seconds and the bounds of the tree's waits.
  virtual Clock& Time() = 0;
};

// The code of the call that just failed, read at once (before any handle is closed).
// A failure whose last error reads 0 must not pass for success: it gives ErrorGenFailure.
int FailureCode(ServiceSystem& system);

// Owns one manager or service handle and closes it.
class ScHandle {
 public:
  ScHandle(ServiceSystem& system, ScHandleValue value) : system_(system), value_(value) {}
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  ~ScHandle() {
    if (value_ != 0) system_.Close(value_);
  }

  ScHandleValue Get() const { return value_; }
  explicit operator bool() const { return value_ != 0; }

 private:
  ServiceSystem& system_;
  ScHandleValue value_;
};

// Service and executable names compare as Windows compares them: without regard to case.
bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b);

}  // namespace qx
