#pragma once

#ifdef _WIN32
#include <windows.h>

#include <string>

#include "port/device/file_port.h"

namespace qx {

// Port kind 1: a printer on a parallel port (standard LPT or a vendor parallel
// device), opened as a file. In asynchronous mode a TLptSendThread drains the send
// queue and a TLptRecvThread reads into the receive queue, from which Read takes.
class TQXLPT : public TFilePort {
 public:
  // The send worker's writes go through `calls`, so that a test can keep them pending.
  explicit TQXLPT(int portId, DosDeviceFunctions& dosDevices = Kernel32DosDevices(),
                  DeviceCalls& calls = Kernel32DeviceCalls());
  ~TQXLPT() override;

  int DeviceRequest() override { return 0; }
  int GetDeviceInfo(void*) override { return 0; }
  int IsReady() override { return 1; }
  int Configure(const PortSettings* settings) override;
  int SetHandshakeBypass(int) override { return 0; }

  // The path Open would use now (runs the spooler-name workaround for LPT1 to LPT9).
  std::string DevicePath();

  int LptCode = 0;
  COMMTIMEOUTS Timeouts;

  // Open raises a shorter write time-out to this.
  static constexpr DWORD MinimumWriteTimeout = 2000;

 private:
  class TLptSendThread;
  class TLptRecvThread;

  bool OpenDevice(bool sync) override;
  bool MakeWorkers(std::unique_ptr<TSendThread>& send, std::unique_ptr<TCommThread>& receive) override;
  void ReleaseDevice() override { device_.Reset(); }
};

}  // namespace qx
#endif
