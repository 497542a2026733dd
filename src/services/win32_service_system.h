#pragma once

// The production binding of the service seam (Windows only): the Service Control
// Manager, a Toolhelp process walk, and the program's clock.

#include "services/service_system.h"

namespace qx {

class Win32ServiceSystem : public ServiceSystem {
 public:
  // The steady system clock: a wait must not stretch or shrink when the wall clock is
  // set or daylight saving time begins or ends. Tests hand in a fake one.
  explicit Win32ServiceSystem(Clock& clock = SystemClock()) : clock_(clock) {}

  ScHandleValue OpenManager(std::uint32_t access) override;
  ScHandleValue OpenServiceAnsi(ScHandleValue manager, const std::string& name,
                                std::uint32_t access) override;
  ScHandleValue OpenServiceWide(ScHandleValue manager, const std::wstring& name,
                                std::uint32_t access) override;
  bool QueryStatus(ScHandleValue service, ServiceStatus& status) override;
  bool ControlStop(ScHandleValue service, ServiceStatus& status) override;
  bool Start(ScHandleValue service) override;
  bool Dependents(ScHandleValue service, std::uint32_t states, std::vector<std::wstring>& names) override;
  void Close(ScHandleValue handle) override;
  std::uint32_t LastError() override;
  bool ProcessNames(std::vector<std::wstring>& names) override;
  Clock& Time() override { return clock_; }

 private:
  Clock& clock_;
};

// The program's binding on the system clock; it keeps no state (the last error is the
// thread's own).
ServiceSystem& SystemServices();

}  // namespace qx
