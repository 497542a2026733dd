#pragma once

// The service steps around the printer's port: stop the spooler tree and the vendor's
// port services before the port table is set up, start them again after it is gone.
//
//   construction, before the port table is set up:   StopServicesAtStart();
//   destruction, after LibraryShutdown:              StartServicesAtExit();
//
// The main window ignores what happened; qxmodel reports it (Problems, Stopped).
// A second thread (qxmodel's interrupt) may call CancelStopping and then
// StartServicesAtExit while the first is still stopping: the steps take turns.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "services/service_control.h"
#include "services/service_state.h"
#include "services/service_system.h"

namespace qx {

// What StartServicesAtExit starts.
enum class ExitRule {
  // The main window's rule: every installed, stopped service of the set, then the
  // whole spooler tree, whatever state they were found in at start.
  StartTheSet,
  // qxmodel's: only the services these steps stopped, in the same order.
  RestartWhatWasStopped,
};

// A service that could not be stopped or started. Services that are not installed
// are skipped without notice and never appear here.
struct ServiceProblem {
  std::string Service;
  bool Stopping = false;  // false: starting
  int Code = 0;           // Win32 error, the service's own exit code, or a time-out
};

class ServiceSteps {
 public:
  explicit ServiceSteps(ServiceSystem& system, ExitRule rule = ExitRule::StartTheSet)
      : system_(system), rule_(rule) {}
  ServiceSteps(const ServiceSteps&) = delete;
  ServiceSteps& operator=(const ServiceSteps&) = delete;
  // Should the exit steps not have run (construction cut short, an exception), they
  // run here, so the spooler and the vendor services are not left stopped.
  ~ServiceSteps();

  // Builds the spooler tree and stops it, then stops the vendor services 1 to 7.
  // Runs once, and not at all after StartServicesAtExit or CancelStopping.
  void StopServicesAtStart();
  // Starts the vendor services 7, 6, 5, 3, 4, 1, 2, then the spooler tree, by the
  // rule; releases the tree. Runs once, and only after a StopServicesAtStart.
  void StartServicesAtExit();
  // The exit steps without a start before them (after a crash or a killed process):
  // the vendor services as at exit, then the spooler tree as it stands now. Only with
  // ExitRule::StartTheSet; runs once, and not after StopServicesAtStart.
  void StartServicesWithoutStopping();
  // Safe from any thread: a StopServicesAtStart running now stops no further service.
  void CancelStopping() { cancelled_ = true; }

  int ChangeServiceState(int mode, const std::string& name) {
    return qx::ChangeServiceState(system_, mode, name);
  }

  // The services these steps stopped (whether or not they run again), in stop order.
  std::vector<std::string> Stopped() const;
  std::vector<ServiceProblem> Problems() const;

  // The spooler tree while it exists (between the two steps). UI thread only.
  const CServiceControl* SpoolerTree() const { return spoolerTree_.get(); }

 private:
  void Note(const std::string& service, bool stopping, int code);
  void StartVendorServices();
  void StartSpoolerTree();

  ServiceSystem& system_;
  const ExitRule rule_;
  mutable std::mutex mutex_;
  std::atomic<bool> cancelled_{false};
  std::unique_ptr<CServiceControl> spoolerTree_;
  std::vector<std::string> stoppedVendors_;
  std::vector<std::string> stoppedNames_;
  std::vector<ServiceProblem> problems_;
  bool stopped_ = false;
  bool started_ = false;
};

// A service key name for messages (the manager's names are ASCII; anything else shows as '?').
std::string ServiceNameText(const std::wstring& name);

}  // namespace qx
