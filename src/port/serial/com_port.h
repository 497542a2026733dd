#pragma once

#ifdef _WIN32
#include <windows.h>

#include <string>

#include "platform/win32_handle.h"
#include "port/queued_port.h"
#include "port/serial/serial_rules.h"

namespace qx {

// Port kind 0: a printer on a COM port. In asynchronous mode writes go through the
// send queue and a TComSendThread; a TComRecvThread reports received characters,
// and reads still go straight to the device.
class TQXCOM : public TQueuedPort {
 public:
  explicit TQXCOM(int portId, DosDeviceFunctions& dosDevices = Kernel32DosDevices());
  ~TQXCOM() override;

  int Open() override;
  int Write(int tag, const char* data, int length, int* written) override;
  int Read(void* buffer, int length, int* got) override;
  int Close() override;
  int DeviceRequest() override;
  // `info` is a DeviceInfo record. Always 0: the record is the result.
  int GetDeviceInfo(void* info) override;
  int IsOpen() override;
  int IsReady() override;
  std::intptr_t GetHandle() override;
  int Configure(const PortSettings* settings) override;
  int SetSyncMode(int sync) override;
  int GetInputAvailable() override;
  void ClearInput() override;
  int GetInputBlockSize() override;
  int SetInputBlockSize(int n) override;
  int SetHandshakeBypass(int on) override;

  // The path Open would use now (runs the spooler-name workaround).
  std::string DevicePath();
  // CreateFileA attributes of the last successful Open.
  DWORD OpenAttributes() const { return openAttributes_; }
  bool HasWorkers() const { return SendWorker != nullptr || RecvWorker != nullptr; }

  int PortNumber = 0;
  int SyncMode = 0;
  DCB Dcb;
  COMMTIMEOUTS Timeouts;

  // How long an asynchronous Read may stay pending beyond the read time-outs before
  // it is cancelled (some drivers do not end an empty read by the time-outs).
  static constexpr int ReadGraceMilliseconds = 100;

 private:
  class TComSendThread;
  class TComRecvThread;

  void WakeReceiveWorker() override;
  void RaiseLines();
  void ClearErrors();

  DosDeviceFunctions& dosDevices_;
  UniqueHandle device_;
  UniqueHandle writeEvent_;
  UniqueHandle readEvent_;
  UniqueHandle commEvent_;
  bool openSync_ = true;
  DWORD openAttributes_ = 0;
};

}  // namespace qx
#endif
