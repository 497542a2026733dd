#pragma once

#include <cstdint>
#include <functional>

#include "port/port_settings.h"

namespace qx {

// Notification hooks a user of the port library may install. The utility itself
// installs none, so the Notify functions below normally do nothing.
struct PortHooks {
  std::function<void(int id)> OnOpened;
  std::function<void(int id)> OnClosed;
  std::function<int(int id, int tag, int bytesDone, int complete)> OnWriteProgress;
  std::function<int(int id, int available)> OnDataArrived;
};

// The abstract port. Every kind implements all 25 operations, declared here in their
// fixed order. Results are plain ints (1 success, 0 failure unless a kind says
// otherwise); no operation throws. Out-counts are set on every path.
//
// The base destructor cannot close the port (the kind is already gone by then), so
// every kind's destructor calls its own Close first.
class TQXCCC {
 public:
  TQXCCC(int portId, int kind) : PortId(portId), Kind(kind) {}
  TQXCCC(const TQXCCC&) = delete;
  TQXCCC& operator=(const TQXCCC&) = delete;

  virtual ~TQXCCC() = default;
  virtual int Open() = 0;
  virtual int Write(int tag, const char* data, int length, int* written) = 0;
  virtual int Read(void* buffer, int length, int* got) = 0;
  virtual int Close() = 0;
  virtual int DeviceRequest() = 0;
  // `info` is the kind's own device-information record (or null where a kind lists).
  virtual int GetDeviceInfo(void* info) = 0;
  virtual int IsOpen() = 0;
  virtual int IsReady() = 0;
  // The raw device handle or socket, for diagnostics. Pointer-sized so that a 64-bit
  // Windows handle is not cut short.
  virtual std::intptr_t GetHandle() = 0;
  virtual int Configure(const PortSettings* settings) = 0;
  virtual int SetSyncMode(int sync) = 0;
  virtual int GetOutputPending() = 0;
  virtual void ClearOutput() = 0;
  virtual void ResumeOutput() = 0;
  virtual void SuspendOutput() = 0;
  virtual int GetOutputBlockSize() = 0;
  virtual int SetOutputBlockSize(int n) = 0;
  virtual int GetInputAvailable() = 0;
  virtual void ClearInput() = 0;
  virtual void ResumeInput() = 0;
  virtual void SuspendInput() = 0;
  virtual int GetInputBlockSize() = 0;
  virtual int SetInputBlockSize(int n) = 0;
  virtual int SetHandshakeBypass(int on) = 0;

  // Called by the kinds on themselves (also from their worker threads).
  void NotifyOpened();
  void NotifyClosed();
  int NotifyWriteProgress(int tag, int bytesDone, int complete);
  void NotifyDataArrived();

  const int PortId;
  const int Kind;
  // Install before opening: the workers read the hooks without a lock.
  PortHooks Hooks;
};

// Values that several kinds share.
inline constexpr int MaxOutputBlockSize = 65536;
inline constexpr int MaxInputBlockSize = 65540;
inline constexpr int SendQueueCap = 4096;

}  // namespace qx
