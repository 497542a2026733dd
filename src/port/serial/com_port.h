#pragma once

#ifdef _WIN32
#include <windows.h>

#include <string>

#include "port/device/file_port.h"
#include "port/serial/serial_rules.h"

namespace qx {

// Port kind 0: a printer on a COM port. In asynchronous mode writes go through the
// send queue and a TComSendThread; a TComRecvThread reports received characters,
// and reads still go straight to the device.
class TQXCOM : public TFilePort {
 public:
  // The send worker's writes go through `calls`, so that a test can make them fail
  // or keep them pending.
  explicit TQXCOM(int portId, DosDeviceFunctions& dosDevices = Kernel32DosDevices(),
                  DeviceCalls& calls = Kernel32DeviceCalls());
  ~TQXCOM() override;

  int DeviceRequest() override;
  // `info` is a DeviceInfo record. Always 0: the record is the result.
  int GetDeviceInfo(void* info) override;
  int IsReady() override;
  int Configure(const PortSettings* settings) override;
  int GetInputAvailable() override;
  void ClearInput() override;
  int GetInputBlockSize() override;
  int SetInputBlockSize(int n) override;
  int SetHandshakeBypass(int on) override;

  // The path Open would use now (runs the spooler-name workaround).
  std::string DevicePath();
  // CreateFileA attributes of the last successful Open.
  DWORD OpenAttributes() const { return openAttributes_; }

  int PortNumber = 0;
  DCB Dcb;
  COMMTIMEOUTS Timeouts;

  // The diagnostic line of a run of failed writes of the send worker.
  static constexpr const char* WriteFailedLine = "TComSendThread: WriteFile failed";

  // How long an asynchronous Read may stay pending beyond the read time-outs before
  // it is cancelled (some drivers do not end an empty read by the time-outs).
  static constexpr int ReadGraceMilliseconds = 100;

 private:
  class TComSendThread;
  class TComRecvThread;

  bool OpenDevice(bool sync) override;
  bool MakeWorkers(std::unique_ptr<TSendThread>& send, std::unique_ptr<TCommThread>& receive) override;
  void AfterOpen() override { RaiseLines(); }
  void BeforeStop() override;
  void WakeReceiveWorker() override;
  void ReleaseDevice() override;
  void AfterWrite() override { ClearErrors(); }
  int ReadDevice(void* buffer, int length, int* got) override;
  // Reads go straight to the device in both modes.
  bool ReadsFromQueue() const override { return false; }
  void RaiseLines();
  void ClearErrors();

  // The record and buffer of an asynchronous Read: the port's own, so that a read the
  // driver never ends can be given up without the caller's memory.
  std::unique_ptr<PendingIo> read_;
  DWORD openAttributes_ = 0;
};

}  // namespace qx
#endif
