#include "services/service_control.h"

#include <algorithm>

namespace qx {

namespace {

constexpr int ErrorInvalidParameter = 87;

}  // namespace

CServiceControl::CServiceControl(ServiceSystem& system, const std::wstring& name)
    : system_(system), serviceName_(name) {
  std::vector<std::wstring> ancestors;
  BuildDependents(ancestors);
}

CServiceControl::CServiceControl(ServiceSystem& system, const std::wstring& name,
                                 std::vector<std::wstring>& ancestors)
    : system_(system), serviceName_(name) {
  BuildDependents(ancestors);
}

void CServiceControl::BuildDependents(std::vector<std::wstring>& ancestors) {
  std::vector<std::wstring> names;
  {
    ScHandle manager(system_, system_.OpenManager(ManagerAccess));
    if (!manager) return;
    ScHandle service(system_, system_.OpenServiceWide(manager.Get(), serviceName_,
                                                      ServiceEnumerateDependentsAccess));
    if (!service) return;
    if (!system_.Dependents(service.Get(), DependentsActive, names)) return;
  }
  // The manager refuses circular dependencies; a name already on the path from the
  // root is skipped all the same, so a confused manager cannot make the tree endless.
  ancestors.push_back(serviceName_);
  for (const std::wstring& name : names) {
    const bool onPath = std::any_of(ancestors.begin(), ancestors.end(), [&](const std::wstring& a) {
      return SameNameIgnoringCase(a, name);
    });
    if (onPath) continue;
    dependents_.push_back(
        std::unique_ptr<CServiceControl>(new CServiceControl(system_, name, ancestors)));
  }
  ancestors.pop_back();
}

int CServiceControl::ServiceRequest(const std::wstring& name, int operation,
                                    ServiceStatus* status) {
  if (operation < ServiceRequestStart || operation > ServiceRequestQuery) {
    return ErrorInvalidParameter;
  }
  ScHandle manager(system_, system_.OpenManager(ManagerAccess));
  if (!manager) return FailureCode(system_);
  ScHandle service(system_, system_.OpenServiceWide(manager.Get(), name, ServiceControlAccess));
  if (!service) return FailureCode(system_);

  bool ok = true;
  switch (operation) {
    case ServiceRequestStart:
      ok = system_.Start(service.Get());
      break;
    case ServiceRequestStop: {
      ServiceStatus ignored;
      ok = system_.ControlStop(service.Get(), status != nullptr ? *status : ignored);
      break;
    }
    case ServiceRequestQuery:
      if (status != nullptr) ok = system_.QueryStatus(service.Get(), *status);
      break;
  }
  return ok ? 0 : FailureCode(system_);
}

int CServiceControl::IsProcessRunning(const std::wstring& executable) const {
  std::vector<std::wstring> names;
  if (!system_.ProcessNames(names)) return 0;
  for (const std::wstring& name : names) {
    if (SameNameIgnoringCase(name, executable)) return 1;
  }
  return 0;
}

int CServiceControl::WaitForState(std::uint32_t wanted) {
  Clock& clock = system_.Time();
  const std::int64_t start = clock.NowMilliseconds();
  const std::uint32_t opposite = wanted == ServiceStopped ? ServiceRunning : ServiceStopped;
  // An accepted start leaves the service start-pending, so stopped means it fell back.
  // A stop may be accepted before the service reports stop-pending: running counts as
  // a fall-back only once it was seen in another state.
  bool left = wanted == ServiceRunning;
  for (;;) {
    ServiceStatus status;
    const int error = ServiceRequest(serviceName_, ServiceRequestQuery, &status);
    if (error != 0) {
      // A service that can no longer be queried while stopping has gone (deleted
      // services vanish once stopped); while starting it has plainly failed.
      return wanted == ServiceStopped ? 0 : error;
    }
    if (status.CurrentState == wanted) return 0;
    if (status.Win32ExitCode != 0) {
      if (status.Win32ExitCode == ErrorServiceSpecific && status.ServiceSpecificExitCode != 0) {
        return static_cast<int>(status.ServiceSpecificExitCode);
      }
      return static_cast<int>(status.Win32ExitCode);
    }
    if (status.CurrentState == opposite && left) {
      return static_cast<int>(wanted == ServiceRunning ? ErrorServiceNotActive : ErrorServiceAlreadyRunning);
    }
    if (status.CurrentState != opposite) left = true;
    if (clock.NowMilliseconds() - start > ServiceTreeWaitLimitMs) return ErrorTimeout;
    clock.SleepMilliseconds(ServiceTreePollMs);
  }
}

int CServiceControl::WaitForSpoolerProcess() {
  int result = 0;
  int waited = 0;
  while (result == 0 && IsProcessRunning(SpoolerProcessName) == 1) {
    if (waited > SpoolerWaitLimitMs) {
      result = ErrorTimeout;
    } else {
      system_.Time().SleepMilliseconds(SpoolerCheckIntervalMs);
    }
    waited += SpoolerCheckIntervalMs;
  }
  return result;
}

int CServiceControl::StopTree() {
  failedService_.clear();
  for (const auto& dependent : dependents_) {
    const int result = dependent->StopTree();
    if (result != 0) {
      failedService_ = dependent->failedService_;
      return result;
    }
  }
  const int result = StopWalk();
  if (result != 0) failedService_ = serviceName_;
  return result;
}

int CServiceControl::StopWalk() {
  ServiceStatus status;
  int result = ServiceRequest(serviceName_, ServiceRequestQuery, &status);
  if (result != 0) return result;
  if (status.CurrentState == ServiceStopped) return 0;
  result = ServiceRequest(serviceName_, ServiceRequestStop, nullptr);
  if (result != 0) return result;
  stoppedHere_ = true;
  if (SameNameIgnoringCase(serviceName_, SpoolerServiceName)) return WaitForSpoolerProcess();
  return WaitForState(ServiceStopped);
}

int CServiceControl::StartTree() {
  failedService_.clear();
  int result = StartWalk();
  if (result != 0) {
    failedService_ = serviceName_;
    return result;
  }
  for (const auto& dependent : dependents_) {
    result = dependent->StartTree();
    if (result != 0) {
      failedService_ = dependent->failedService_;
      return result;
    }
  }
  return 0;
}

int CServiceControl::StartWalk() {
  ServiceStatus status;
  int result = ServiceRequest(serviceName_, ServiceRequestQuery, &status);
  if (result != 0) return result;
  if (status.CurrentState == ServiceRunning) return 0;
  result = ServiceRequest(serviceName_, ServiceRequestStart, nullptr);
  if (result != 0) return result;
  return WaitForState(ServiceRunning);
}

int CServiceControl::RestartStopped(std::vector<Failure>& failures) {
  int first = 0;
  if (stoppedHere_) {
    const int result = StartWalk();
    if (result == 0) {
      stoppedHere_ = false;
    } else {
      failures.push_back({serviceName_, result});
      first = result;
    }
  }
  for (const auto& dependent : dependents_) {
    const int result = dependent->RestartStopped(failures);
    if (first == 0) first = result;
  }
  return first;
}

}  // namespace qx
