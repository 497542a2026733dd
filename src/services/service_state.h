#pragma once

// Stopping and starting one service by name, and the vendor's port services that the
// utility stops while it runs.

#include <array>
#include <string>

#include "services/service_system.h"

namespace qx {

inline constexpr int ServiceModeStart = 0;
inline constexpr int ServiceModeStop = 1;

// How long a single service may take to reach the requested state, in whole seconds
// of the clock after the request was sent.
inline constexpr int ServiceStateLimitSeconds = 20;
inline constexpr int ServiceStatePollMs = 500;

// Stops (mode 1) or starts (mode 0) the service with this key name and waits until it
// has reached that state. 1 when it is in the requested state at the end (also when it
// already was), 0 otherwise: any other mode, no manager, not installed, no rights, a
// pending or paused state found, a failed request, or the time limit passed.
int ChangeServiceState(ServiceSystem& system, int mode, const std::string& name);

// The same operation, telling a caller that reports it what happened.
struct ServiceChange {
  int Result = 0;            // what ChangeServiceState returns
  bool Installed = true;     // false: the manager knows no such service
  bool RequestSent = false;  // a stop or start request was accepted
  // Why Result is 0: the failing call's code, ErrorServiceCannotAcceptControl for a
  // pending or paused state, ErrorServiceRequestTimeout when the limit passed.
  int Error = 0;
};
ServiceChange ChangeServiceStateReported(ServiceSystem& system, int mode, const std::string& name);

// The vendor's port services, numbered 1 to 7 as the table in the documentation.
inline constexpr std::array<const char*, 7> VendorServices = {
    "ZEMAK_DVN_AGENT_SERVICE",
    "ZEMAK_KTPOS_AGENT_SERVICE",
    "ZemakPOSPort",
    "ZemakTovel",
    "ZEMAK_Port_Communication_Service",
    "ZEMAK_Port_Communication_Service_QXS",
    "ZEMAK_Port_Communication_Service_QXC",
};
// Indexes into VendorServices: stopped in this order at start...
inline constexpr std::array<int, 7> VendorStopOrder = {0, 1, 2, 3, 4, 5, 6};
// ...and started in this one at exit (7, 6, 5, 3, 4, 1, 2).
inline constexpr std::array<int, 7> VendorStartOrder = {6, 5, 4, 2, 3, 0, 1};

}  // namespace qx
