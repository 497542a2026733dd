#pragma once

#include <atomic>

#include "port/notification_targets.h"
#include "port/queued_port.h"
#include "port/serial/serial_rules.h"
#include "port/device/device_calls.h"
#include "port/usb/usb_rules.h"

namespace qx {

// Port kind 2: a printer on the vendor's USB driver, which shows each device as two
// named channels, QX and QD. All I/O goes through the active channel; the driver's
// own controls carry time-outs, status, transfer counts and descriptors. The handles
// are plain (not overlapped): in asynchronous mode each worker blocks in its own call.
class TQXUSB : public TQueuedPort, public DevicePresenceTarget {
 public:
  TQXUSB(int portId, DeviceCalls& calls);
  ~TQXUSB() override;

  int DeviceRequest() override;
  // `info` is a DeviceInfo record. Always 0: the record is the result.
  int GetDeviceInfo(void* info) override;
  int IsOpen() override;
  int IsReady() override;
  std::intptr_t GetHandle() override;
  int Configure(const PortSettings* settings) override;
  int SetHandshakeBypass(int on) override;

  // The device-change window asks this of every vendor USB port after a device went
  // away: 1 when the device still answers its status query, 0 otherwise (also when
  // the port is closed). The window closes the port on 0.
  int CheckDevicePresent() override;

  DeviceHandle QxHandle() const { return qx_.Get(); }
  DeviceHandle QdHandle() const { return qd_.Get(); }
  DeviceHandle ActiveHandle() const { return active_.load(); }

  int DeviceNumber = 0;
  int UseQdChannel = 0;
  int ChannelMode = 0;
  DriverTimeouts Timeouts;

  // How long SetHandshakeBypass(0) waits for the driver to release the held bit.
  static constexpr std::uint32_t HandshakeReleaseLimitMs = 2000;

 private:
  class TUsbSendThread;
  class TUsbRecvThread;

  bool OpenDevice(bool sync) override;
  bool MakeWorkers(std::unique_ptr<TSendThread>& send, std::unique_ptr<TCommThread>& receive) override;
  Clock& KindClock() override { return clock_; }
  bool WorkersMayBeGivenUp() const override { return true; }
  void ReleaseDevice() override { ReleaseHandles(); }
  int WriteDevice(int tag, const char* data, int length, int* written) override;
  int ReadDevice(void* buffer, int length, int* got) override;

  // Opens the channels the channel mode names, replacing the handles held before.
  void OpenChannels(const std::string& qxPath, const std::string& qdPath, std::uint32_t flags);
  bool SendTimeouts(DeviceHandle channel);
  void ReleaseHandles();
  bool Control(std::uint32_t code, const void* in, std::uint32_t inSize, void* out, std::uint32_t outSize,
               std::uint32_t* returned = nullptr);

  DeviceCalls& calls_;
  SeamClock clock_{calls_};
  SeamHandle qx_;
  SeamHandle qd_;
  // Read by the workers at every call, so that Configure can switch the channel.
  std::atomic<DeviceHandle> active_{InvalidDeviceHandle};
};

}  // namespace qx
