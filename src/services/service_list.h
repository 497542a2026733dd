#pragma once

// What an operator asks after a crash or a killed process: the state of the services
// the utility stops, and a way to start them again.

#include <cstdint>
#include <string>
#include <vector>

#include "services/service_system.h"

namespace qx {

struct ServiceListing {
  std::string Service;
  std::string Role;          // "spooler", "spooler dependent" or "vendor"
  std::uint32_t State = 0;   // the manager's state; 0 when not read
  int Error = 0;             // why not read: ErrorServiceDoesNotExist when not installed
};

// The spooler, every service that depends on it (whatever its state, in the manager's
// order), then the seven vendor services in the order of their table. Only the right
// to query is asked for, so it works without administrator rights.
std::vector<ServiceListing> ListServices(ServiceSystem& system);

// "running", "stopped", "stop pending", ..., or "not installed"; "error N" otherwise.
std::string ServiceStateText(const ServiceListing& listing);

}  // namespace qx
