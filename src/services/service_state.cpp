#include "services/service_state.h"

namespace qx {

namespace {

bool SendRequest(ServiceSystem& system, ScHandleValue service, bool stop) {
  if (!stop) return system.Start(service);
  ServiceStatus status;
  return system.ControlStop(service, status);
}

ServiceChange Failed(int error) {
  ServiceChange change;
  change.Error = error;
  return change;
}

}  // namespace

int ChangeServiceState(ServiceSystem& system, int mode, const std::string& name) {
  return ChangeServiceStateReported(system, mode, name).Result;
}

ServiceChange ChangeServiceStateReported(ServiceSystem& system, int mode, const std::string& name) {
  if (mode != ServiceModeStart && mode != ServiceModeStop) return Failed(87);  // ERROR_INVALID_PARAMETER

  ScHandle manager(system, system.OpenManager(ManagerAccess));
  if (!manager) return Failed(FailureCode(system));
  ScHandle service(system, system.OpenServiceAnsi(manager.Get(), name, ServiceControlAccess));
  if (!service) {
    ServiceChange change = Failed(FailureCode(system));
    change.Installed = change.Error != static_cast<int>(ErrorServiceDoesNotExist);
    return change;
  }
  ServiceStatus status;
  if (!system.QueryStatus(service.Get(), status)) return Failed(FailureCode(system));

  const bool stop = mode == ServiceModeStop;
  const std::uint32_t wanted = stop ? ServiceStopped : ServiceRunning;
  const std::uint32_t opposite = stop ? ServiceRunning : ServiceStopped;
  const std::uint32_t pending = stop ? ServiceStopPending : ServiceStartPending;

  ServiceChange change;
  if (status.CurrentState == wanted) {
    change.Result = 1;
    return change;
  }
  // Pending or paused: someone else is changing it; leave it alone.
  if (status.CurrentState != opposite) return Failed(static_cast<int>(ErrorServiceCannotAcceptControl));
  if (!SendRequest(system, service.Get(), stop)) return Failed(FailureCode(system));
  change.RequestSent = true;

  Clock& clock = system.Time();
  const std::int64_t t0 = clock.NowMilliseconds() / 1000;
  for (;;) {
    if (!system.QueryStatus(service.Get(), status)) {
      change.Error = FailureCode(system);
      return change;
    }
    if (status.CurrentState == wanted) {
      change.Result = 1;
      return change;
    }
    if (status.CurrentState == opposite) {
      // It fell back (or was changed back by someone else): ask once more, same t0.
      if (!SendRequest(system, service.Get(), stop)) {
        change.Error = FailureCode(system);
        return change;
      }
    } else if (status.CurrentState != pending) {
      change.Error = static_cast<int>(ErrorServiceCannotAcceptControl);
      return change;
    }
    if (clock.NowMilliseconds() / 1000 - t0 > ServiceStateLimitSeconds) {
      change.Error = static_cast<int>(ErrorServiceRequestTimeout);
      return change;
    }
    clock.SleepMilliseconds(ServiceStatePollMs);
  }
}

}  // namespace qx
