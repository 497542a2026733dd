#pragma once

// A device-call binding for the serial and parallel kinds' send workers under Wine.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/time.h"
#include "port/device/device_calls.h"

namespace qx::test {

// kernel32, except that the next `Fail` writes fail at once, as on a pulled adapter
// (the times of the failed writes are kept), and that with `Stall` writes stay
// pending for good, even when cancelled, as with a driver that never ends a request.
// The tick count moves only by Sleep.
class FaultyWrites final : public DeviceCalls {
 public:
  std::atomic<int> Fail{0};
  std::atomic<bool> Stall{false};
  std::atomic<int> Stalled{0};
  std::vector<std::int64_t> FailedAt() {
    std::lock_guard lock(lock_);
    return failedAt_;
  }

  std::uint32_t WriteFile(DeviceHandle device, const void* data, std::uint32_t size, std::uint32_t& count,
                          DeviceOverlapped* overlapped) override {
    count = 0;
    if (Stall.load()) {
      std::lock_guard lock(lock_);
      stalled_.push_back(overlapped);
      ++Stalled;
      return win::ErrorIoPending;
    }
    if (Fail.load() > 0) {
      --Fail;
      std::lock_guard lock(lock_);
      failedAt_.push_back(SteadyMilliseconds());
      return win::ErrorGenFailure;
    }
    return real_.WriteFile(device, data, size, count, overlapped);
  }
  std::uint32_t GetOverlappedResult(DeviceHandle device, DeviceOverlapped* overlapped, std::uint32_t& count,
                                    bool wait) override {
    {
      std::lock_guard lock(lock_);
      count = 0;
      if (std::find(stalled_.begin(), stalled_.end(), overlapped) != stalled_.end()) return win::ErrorIoIncomplete;
    }
    return real_.GetOverlappedResult(device, overlapped, count, wait);
  }
  std::uint32_t TickCount() override { return ticks_.load(); }
  void Sleep(std::uint32_t milliseconds) override {
    ticks_ += milliseconds;
    real_.Sleep(0);
  }
  DeviceHandle CreateFileA(const char* path, std::uint32_t access, std::uint32_t share, std::uint32_t creation,
                           std::uint32_t flags, std::uint32_t& error) override {
    return real_.CreateFileA(path, access, share, creation, flags, error);
  }
  std::uint32_t ReadFile(DeviceHandle device, void* buffer, std::uint32_t size, std::uint32_t& count,
                         DeviceOverlapped* overlapped) override {
    return real_.ReadFile(device, buffer, size, count, overlapped);
  }
  std::uint32_t DeviceIoControl(DeviceHandle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                                void* out, std::uint32_t outSize, std::uint32_t& returned) override {
    return real_.DeviceIoControl(device, code, in, inSize, out, outSize, returned);
  }
  DeviceHandle CreateEventA(bool manualReset, bool initialState) override {
    return real_.CreateEventA(manualReset, initialState);
  }
  bool CloseHandle(DeviceHandle handle) override { return real_.CloseHandle(handle); }
  std::uint32_t CancelIo(DeviceHandle device) override { return real_.CancelIo(device); }
  bool FindDeviceInterfacePath(const Guid& interfaceClass, std::uint32_t index, std::string& path) override {
    return real_.FindDeviceInterfacePath(interfaceClass, index, path);
  }
  std::uint32_t QueryDosDeviceA(const char* name, char* buffer, std::uint32_t size) override {
    return real_.QueryDosDeviceA(name, buffer, size);
  }

 private:
  DeviceCalls& real_ = Kernel32DeviceCalls();
  std::mutex lock_;
  std::vector<std::int64_t> failedAt_;
  std::vector<DeviceOverlapped*> stalled_;
  std::atomic<std::uint32_t> ticks_{0};
};

}  // namespace qx::test
