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

// Polling of a service other than the spooler while it stops or starts.
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
  int FailureCode();
  int WaitForState(std::uint32_t wanted);
  int WaitForSpoolerProcess();

  ServiceSystem& system_;
  std::wstring serviceName_;
  std::vector<std::unique_ptr<CServiceControl>> dependents_;
};

}  // namespace qx
