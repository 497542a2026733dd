#pragma once

// One service together with the services that depend on it and were active when the
// object was built, as a tree: stopped dependents first, started service first. The
// print spooler's stop also waits for its process to end.

#include <memory>
#include <string>
#include <vector>

#include "services/service_system.h"

namespace qx {

inline constexpr int ServiceRequestStart = 0;
inline constexpr int ServiceRequestStop = 1;
inline constexpr int ServiceRequestQuery = 2;

// Polling of a service other than the spooler while it stops or starts. A service that
// falls back (stopped again while starting, running again after it was seen stopping)
// ends the wait at once: ErrorServiceNotActive or ErrorServiceAlreadyRunning.
inline constexpr int ServiceTreePollMs = 100;
// A service that stays pending this long (without reporting an exit code) ends the
// walk with ErrorTimeout instead of holding the utility forever. Six times the single
// service limit, four times the manager's own 30 s start time-out: no healthy service
// comes near it.
inline constexpr int ServiceTreeWaitLimitMs = 120000;

// The spooler's stop waits for this process, looked for every 3 s for up to 60 s.
inline constexpr wchar_t SpoolerServiceName[] = L"Spooler";
inline constexpr wchar_t SpoolerProcessName[] = L"spoolsv.exe";
inline constexpr int SpoolerCheckIntervalMs = 3000;
inline constexpr int SpoolerWaitLimitMs = 59999;

class CServiceControl {
 public:
  // Builds the tree of active dependents once; a failed enumeration leaves the node
  // without dependents.
  CServiceControl(ServiceSystem& system, const std::wstring& name);
  CServiceControl(const CServiceControl&) = delete;
  CServiceControl& operator=(const CServiceControl&) = delete;
  ~CServiceControl() = default;

  // 0 when this service and all its dependents are stopped (started); otherwise the
  // first Win32 error met, a service's own exit code, or ErrorTimeout, with the rest
  // of the tree left as it was.
  int StopTree();
  int StartTree();

  // Starts again, each service before its dependents, exactly the services that
  // StopTree stopped here (its stop request was accepted); every one of them is tried.
  // 0 when all of them run, else the first error. Each failure is added to `failures`.
  struct Failure {
    std::wstring Service;
    int Code = 0;
  };
  int RestartStopped(std::vector<Failure>& failures);

  // Whether StopTree sent this service a stop that was accepted (and it has not been
  // restarted by RestartStopped since).
  bool StoppedHere() const { return stoppedHere_; }
  // The service at which the last StopTree or StartTree ended with an error (empty
  // when it ended with 0).
  const std::wstring& FailedService() const { return failedService_; }

  // Operation 0 start, 1 stop, 2 query (into `status` when given) on the named
  // service, with handles of its own: 0 or the error code of the first call that failed.
  int ServiceRequest(const std::wstring& name, int operation, ServiceStatus* status);

  // 1 when a running process has this executable name (ignoring case), else 0.
  int IsProcessRunning(const std::wstring& executable) const;

  const std::wstring& ServiceName() const { return serviceName_; }
  const std::vector<std::unique_ptr<CServiceControl>>& Dependents() const { return dependents_; }

 private:
  CServiceControl(ServiceSystem& system, const std::wstring& name,
                  std::vector<std::wstring>& ancestors);
  void BuildDependents(std::vector<std::wstring>& ancestors);
  int StopWalk();
  int StartWalk();
  int WaitForState(std::uint32_t wanted);
  int WaitForSpoolerProcess();

  ServiceSystem& system_;
  std::wstring serviceName_;
  std::vector<std::unique_ptr<CServiceControl>> dependents_;
  bool stoppedHere_ = false;
  std::wstring failedService_;
};

}  // namespace qx
