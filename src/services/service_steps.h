#pragma once

// The service steps of the main window: owned by it from construction to destruction.
//
//   construction, before the port table is set up:   StopServicesAtStart();
//   destruction, after PortLibraryShutdown:          StartServicesAtExit();
//
// Results are not examined: the utility runs on whether or not the services could
// be stopped, and nothing is shown to the operator.

#include <memory>
#include <string>

#include "services/service_control.h"
#include "services/service_state.h"
#include "services/service_system.h"

namespace qx {

class ServiceSteps {
 public:
  explicit ServiceSteps(ServiceSystem& system) : system_(system) {}
  ServiceSteps(const ServiceSteps&) = delete;
  ServiceSteps& operator=(const ServiceSteps&) = delete;
  // Should the exit steps not have run (construction of the window cut short), they
  // run here, so the spooler and the vendor services are not left stopped.
  ~ServiceSteps();

  // Builds the spooler tree and stops it, then stops the vendor services 1 to 7.
  // A second call does nothing.
  void StopServicesAtStart();
  // Starts the vendor services 7, 6, 5, 3, 4, 1, 2, then the spooler tree, and
  // releases the tree. A second call does nothing.
  void StartServicesAtExit();

  int ChangeServiceState(int mode, const std::string& name) {
    return qx::ChangeServiceState(system_, mode, name);
  }

  // The spooler tree while it exists (between the two steps).
  const CServiceControl* SpoolerTree() const { return spoolerTree_.get(); }

 private:
  ServiceSystem& system_;
  std::unique_ptr<CServiceControl> spoolerTree_;
  bool stopped_ = false;
  bool started_ = false;
};

}  // namespace qx
