#pragma once

#ifdef _WIN32
#include <windows.h>

#include <memory>
#include <string>

#include "platform/win32_handle.h"
#include "port/device/device_calls.h"
#include "port/device/dos_devices.h"
#include "port/device/pending_io.h"
#include "port/queued_port.h"

namespace qx {

// The kinds opened as a file by a DOS-device name (serial and parallel): the handle,
// the seams that reach the device, and what follows from the handle alone.
class TFilePort : public TQueuedPort {
 public:
  int IsOpen() override { return device_.Valid() ? 1 : 0; }
  std::intptr_t GetHandle() override { return reinterpret_cast<std::intptr_t>(device_.Get()); }

 protected:
  TFilePort(int portId, int kind, int outputBlockSize, int inputBlockSize, DosDeviceFunctions& dosDevices,
            DeviceCalls& calls)
      : TQueuedPort(portId, kind, outputBlockSize, inputBlockSize), dosDevices_(dosDevices), calls_(calls) {}

  // CreateFileA attributes for the I/O mode of an opening.
  static DWORD AttributesFor(bool sync) {
    return sync ? FILE_ATTRIBUTE_NORMAL : FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL;
  }
  // The device at `path`, for reading and writing, not shared.
  static UniqueHandle OpenFile(const std::string& path, DWORD attributes) {
    return UniqueHandle(
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, attributes, nullptr));
  }

  // A synchronous write of the whole request; on failure the count is what the device
  // took before it.
  int WriteDevice(int tag, const char* data, int length, int* written) override {
    DWORD count = 0;
    WriteFile(device_.Get(), data, static_cast<DWORD>(length), &count, nullptr);
    AfterWrite();
    const int n = static_cast<int>(count);
    if (written) *written = n;
    NotifyWriteProgress(tag, n, n == length ? 1 : 0);
    return n == length ? 1 : 0;
  }
  // A synchronous read, ended by the device's time-outs.
  int ReadDevice(void* buffer, int length, int* got) override {
    DWORD count = 0;
    ReadFile(device_.Get(), buffer, static_cast<DWORD>(length), &count, nullptr);
    const int n = static_cast<int>(count);
    if (got) *got = n;
    return n == length ? 1 : 0;
  }
  // What the kind does to the device after each synchronous write.
  virtual void AfterWrite() {}

  DosDeviceFunctions& dosDevices_;
  DeviceCalls& calls_;
  UniqueHandle device_;
};

// A worker of a file kind: the device handle, the calls that reach it, and its own
// overlapped request, which outlives the port when the worker is given up.
template <class Loop>
class TFileWorker : public Loop {
 public:
  TFileWorker(TQueuedPort& port, HANDLE device, DeviceCalls& calls, std::unique_ptr<PendingIo> io)
      : Loop(port), device_(device), calls_(calls), io_(std::move(io)) {}

 protected:
  HANDLE device_;
  DeviceCalls& calls_;
  std::unique_ptr<PendingIo> io_;
};

}  // namespace qx
#endif
