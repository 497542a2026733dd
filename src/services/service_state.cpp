#include "services/service_state.h"

namespace qx {

namespace {

bool SendRequest(ServiceSystem& system, ScHandleValue service, bool stop) {
  if (!stop) return system.Start(service);
  ServiceStatus status;
  return system.ControlStop(service, status);
}

}  // namespace

int ChangeServiceState(ServiceSystem& system, int mode, const std::string& name) {
  if (mode != ServiceModeStart && mode != ServiceModeStop) return 0;

  ScHandle manager(system, system.OpenManager(ManagerAccess));
  if (!manager) return 0;
  ScHandle service(system, system.OpenServiceAnsi(manager.Get(), name, ServiceControlAccess));
  if (!service) return 0;
  ServiceStatus status;
  if (!system.QueryStatus(service.Get(), status)) return 0;

  const bool stop = mode == ServiceModeStop;
  const std::uint32_t wanted = stop ? ServiceStopped : ServiceRunning;
  const std::uint32_t opposite = stop ? ServiceRunning : ServiceStopped;
  const std::uint32_t pending = stop ? ServiceStopPending : ServiceStartPending;

  if (status.CurrentState == wanted) return 1;
  // Pending or paused: someone else is changing it; leave it alone.
  if (status.CurrentState != opposite) return 0;
  if (!SendRequest(system, service.Get(), stop)) return 0;

  const std::int64_t t0 = system.WholeSeconds();
  for (;;) {
    if (!system.QueryStatus(service.Get(), status)) return 0;
    if (status.CurrentState == wanted) return 1;
    if (status.CurrentState == opposite) {
      // It fell back (or was changed back by someone else): ask once more, same t0.
      if (!SendRequest(system, service.Get(), stop)) return 0;
    } else if (status.CurrentState != pending) {
      return 0;
    }
    if (system.WholeSeconds() - t0 > ServiceStateLimitSeconds) return 0;
    system.SleepMilliseconds(ServiceStatePollMs);
  }
}

}  // namespace qx
