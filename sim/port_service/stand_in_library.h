#pragma once

// Reaching the test stand-in for the service's client library (zemak_stand_in_control.h)
// from a test: its controls, the port's view of it (ServiceLibrary), and a backend that
// serves its ports from the simulated printer's engine.
//
// Under Windows the library is "ZemakPH.dll" beside the test program: the port finds it
// through the program's own loader (the normal DLL search), and the controls come from
// the same module. Natively the library is linked in and bound directly.

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "port/service/service_library.h"
#include "sim/engine/printer_engine.h"
#include "sim/port_service/port_list_answer.h"
#include "sim/port_service/zemak_stand_in_control.h"

#ifdef _WIN32
#include "port/service/service_library_win32.h"
#else
extern "C" {
int Open(const SvcChar* url, SvcHandle* handle);
int Close(SvcHandle handle);
int Lock(SvcHandle handle, uint32_t timeoutMs);
int Unlock(SvcHandle handle);
int SendReceive(SvcHandle handle, const void* data, uint32_t length, uint32_t* sent, uint32_t flags,
                uint32_t timeoutMs, void* receive, uint32_t receiveSize, uint32_t* received);
int Ioctl(SvcHandle handle, uint32_t code, const void* input, uint32_t inputLength, void* output,
          uint32_t outputSize, uint32_t* outputLength);
int RegisterCallback(SvcHandle handle, uint32_t event, SvcDataCallback callback, uintptr_t context);
void UnRegisterCallback(void);
}
#endif

namespace qx::test {

struct ZemakControls {
  decltype(&ZemakTestReset) Reset = nullptr;
  decltype(&ZemakTestSetBackend) SetBackend = nullptr;
  decltype(&ZemakTestSetFaults) SetFaults = nullptr;
  decltype(&ZemakTestSetPortList) SetPortList = nullptr;
  decltype(&ZemakTestSetProperty) SetProperty = nullptr;
  decltype(&ZemakTestCallLog) CallLog = nullptr;
  decltype(&ZemakTestClearCallLog) ClearCallLog = nullptr;
  decltype(&ZemakTestOpenConnections) OpenConnections = nullptr;
  decltype(&ZemakTestWaitIdle) WaitIdle = nullptr;
  decltype(&ZemakTestStartFlood) StartFlood = nullptr;
  decltype(&ZemakTestStopFlood) StopFlood = nullptr;
  decltype(&ZemakTestFloodCalls) FloodCalls = nullptr;
  decltype(&ZemakTestDeliver) Deliver = nullptr;

  bool Complete() const {
    return Reset && SetBackend && SetFaults && SetPortList && SetProperty && CallLog && ClearCallLog &&
           OpenConnections && WaitIdle && StartFlood && StopFlood && FloodCalls && Deliver;
  }
};

#ifdef _WIN32
template <class Fn>
void FetchControl(HMODULE module, const char* name, Fn& slot) {
  slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The controls of the library the port loads. The test keeps its own reference to the
// module for the whole run, so the library (and its threads) stay when a port unloads it.
inline const ZemakControls& Zemak() {
  static const ZemakControls controls = [] {
    ZemakControls c;
    HMODULE module = LoadLibraryW(L"ZemakPH.dll");
    if (module == nullptr) return c;
    FetchControl(module, "ZemakTestReset", c.Reset);
    FetchControl(module, "ZemakTestSetBackend", c.SetBackend);
    FetchControl(module, "ZemakTestSetFaults", c.SetFaults);
    FetchControl(module, "ZemakTestSetPortList", c.SetPortList);
    FetchControl(module, "ZemakTestSetProperty", c.SetProperty);
    FetchControl(module, "ZemakTestCallLog", c.CallLog);
    FetchControl(module, "ZemakTestClearCallLog", c.ClearCallLog);
    FetchControl(module, "ZemakTestOpenConnections", c.OpenConnections);
    FetchControl(module, "ZemakTestWaitIdle", c.WaitIdle);
    FetchControl(module, "ZemakTestStartFlood", c.StartFlood);
    FetchControl(module, "ZemakTestStopFlood", c.StopFlood);
    FetchControl(module, "ZemakTestFloodCalls", c.FloodCalls);
    FetchControl(module, "ZemakTestDeliver", c.Deliver);
    return c;
  }();
  return controls;
}

// What the program's kind 5 gets: the library found by the program's own loader.
inline std::unique_ptr<ServiceLibrary> TestServiceLibrary() { return LoadServiceLibrary(); }
#else
inline const ZemakControls& Zemak() {
  static const ZemakControls controls = {
      &ZemakTestReset,        &ZemakTestSetBackend,  &ZemakTestSetFaults, &ZemakTestSetPortList,
      &ZemakTestSetProperty,  &ZemakTestCallLog,     &ZemakTestClearCallLog, &ZemakTestOpenConnections,
      &ZemakTestWaitIdle,     &ZemakTestStartFlood,  &ZemakTestStopFlood, &ZemakTestFloodCalls,
      &ZemakTestDeliver,
  };
  return controls;
}

class LinkedServiceLibrary final : public ServiceLibrary {
 public:
  LinkedServiceLibrary() {
    entries_ = {&::Open, &::Close, &::Lock, &::Unlock, &::SendReceive, &::Ioctl, &::RegisterCallback,
                &::UnRegisterCallback};
  }
  const ServiceEntryPoints& Entries() const override { return entries_; }

 private:
  ServiceEntryPoints entries_;
};

inline std::unique_ptr<ServiceLibrary> TestServiceLibrary() { return std::make_unique<LinkedServiceLibrary>(); }
#endif

// The library's call log, one entry per call.
inline std::vector<std::string> ZemakCalls() {
  const std::uint32_t size = Zemak().CallLog(nullptr, 0);
  std::string text(size + 1, '\0');
  Zemak().CallLog(text.data(), size + 1);
  text.resize(size);
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Serves the library's ports from one simulated printer: each port connection to an
// accepted name is one HostLink; opens are refused while the printer is unreachable.
class EngineBackend {
 public:
  explicit EngineBackend(sim::PrinterEngine& engine, std::set<std::string> names = {"PVDPRT001"})
      : engine_(engine), names_(std::move(names)) {}

  ZemakTestBackend Backend() {
    ZemakTestBackend b{};
    b.Context = this;
    b.OpenLink = [](void* self, const char* name) -> void* { return static_cast<EngineBackend*>(self)->OpenLink(name); };
    b.CloseLink = [](void* self, void* link) {
      static_cast<EngineBackend*>(self)->opened_ -= 1;
      delete static_cast<sim::HostLink*>(link);
    };
    b.Write = [](void*, void* link, const void* data, std::uint32_t length) {
      return static_cast<sim::HostLink*>(link)->Write(data, length) ? 1 : 0;
    };
    b.Read = [](void*, void* link, void* buffer, std::uint32_t size) -> std::uint32_t {
      const sim::Bytes bytes = static_cast<sim::HostLink*>(link)->Read(size);
      bytes.copy(static_cast<char*>(buffer), bytes.size());
      return static_cast<std::uint32_t>(bytes.size());
    };
    b.MillisecondsUntilOutput = [](void*, void* link) -> std::int64_t {
      return static_cast<sim::HostLink*>(link)->MillisecondsUntilOutput();
    };
    return b;
  }

  // Links open now.
  int Opened() const { return opened_; }
  std::vector<std::string> Refused() const {
    std::lock_guard lock(lock_);
    return refused_;
  }

 private:
  void* OpenLink(const char* name) {
    if (names_.count(name) == 0 || !engine_.Reachable()) {
      std::lock_guard lock(lock_);
      refused_.push_back(name);
      return nullptr;
    }
    opened_ += 1;
    return new sim::HostLink(engine_);
  }

  sim::PrinterEngine& engine_;
  const std::set<std::string> names_;
  std::atomic<int> opened_{0};
  mutable std::mutex lock_;
  std::vector<std::string> refused_;
};

}  // namespace qx::test
