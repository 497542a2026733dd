#include "services/service_list.h"

#include "services/service_control.h"
#include "services/service_state.h"
#include "services/service_steps.h"

namespace qx {

namespace {

ServiceListing Read(ServiceSystem& system, const std::wstring& name, const char* role) {
  ServiceListing listing{ServiceNameText(name), role, 0, 0};
  ScHandle manager(system, system.OpenManager(ManagerAccess));
  if (!manager) {
    listing.Error = FailureCode(system);
    return listing;
  }
  ScHandle service(system, system.OpenServiceWide(manager.Get(), name, ServiceQueryStatusAccess));
  ServiceStatus status;
  if (!service || !system.QueryStatus(service.Get(), status)) {
    listing.Error = FailureCode(system);
    return listing;
  }
  listing.State = status.CurrentState;
  return listing;
}

std::vector<std::wstring> AllDependents(ServiceSystem& system, const std::wstring& name) {
  std::vector<std::wstring> names;
  ScHandle manager(system, system.OpenManager(ManagerAccess));
  if (!manager) return names;
  ScHandle service(system, system.OpenServiceWide(manager.Get(), name, ServiceEnumerateDependentsAccess));
  if (service) system.Dependents(service.Get(), DependentsAll, names);
  return names;
}

}  // namespace

std::vector<ServiceListing> ListServices(ServiceSystem& system) {
  std::vector<ServiceListing> listings;
  listings.push_back(Read(system, SpoolerServiceName, "spooler"));
  for (const std::wstring& name : AllDependents(system, SpoolerServiceName)) {
    listings.push_back(Read(system, name, "spooler dependent"));
  }
  for (const char* name : VendorServices) {
    listings.push_back(Read(system, std::wstring(name, name + std::char_traits<char>::length(name)), "vendor"));
  }
  return listings;
}

std::string ServiceStateText(const ServiceListing& listing) {
  if (listing.Error == static_cast<int>(ErrorServiceDoesNotExist)) return "not installed";
  if (listing.Error != 0) return "error " + std::to_string(listing.Error);
  switch (listing.State) {
    case ServiceStopped: return "stopped";
    case ServiceStartPending: return "start pending";
    case ServiceStopPending: return "stop pending";
    case ServiceRunning: return "running";
    case ServiceContinuePending: return "continue pending";
    case ServicePausePending: return "pause pending";
    case ServicePaused: return "paused";
    default: return "state " + std::to_string(listing.State);
  }
}

}  // namespace qx
