#pragma once

#include <atomic>
#include <functional>
#include <memory>

#include "platform/sockets.h"
#include "port/net/net_status_channel.h"
#include "port/notification_targets.h"
#include "port/queued_port.h"

namespace qx {

// The socket window's events (SocketNotifyMessage: port/notification_targets.h).
inline constexpr unsigned SocketConnectEvent = 0x0010;  // FD_CONNECT
inline constexpr unsigned SocketCloseEvent = 0x0020;    // FD_CLOSE

// Port kind 3: a printer on the network. The command stream goes over TCP to the raw
// print port 9100 through a send worker and a receive worker; beside it the datagram
// status channel asks the printer on UDP 3289 whether it is there before each connect.
// Always asynchronous: Write only queues, Read only drains what has arrived.
class TQXNET : public TQueuedPort, public SocketNotifyTarget {
 public:
  // The socket window (HWND) of the port table, asked at each use; null or absent
  // when there is none.
  using WindowSource = std::function<void*()>;

  // `clock` times the pauses and the status channel's waits, and outlives the port.
  explicit TQXNET(int portId, WindowSource socketWindow = {}, Clock& clock = SystemClock());
  ~TQXNET() override;

  // The shared Open, then a pause for the connection to settle.
  int Open() override;
  int DeviceRequest() override;
  // `info` is a NetDeviceInfo record; null lists the network printers.
  int GetDeviceInfo(void* info) override;
  int IsOpen() override;
  int IsReady() override;
  std::intptr_t GetHandle() override;
  int Configure(const PortSettings* settings) override;
  int SetHandshakeBypass(int on) override;

  // SocketNotifyTarget: what the socket window needs.
  SocketHandle Socket() const override { return socket_.load(); }
  void MarkOpened() override { Opened = 1; }
  void NotifyOpened() override { TQXCCC::NotifyOpened(); }

  // Dotted text of the address the next Open connects to.
  const char* AddressText() const { return addressText_; }
  TNetStatusChannel* StatusChannel() const { return statusChannel_.get(); }

  std::atomic<int> Opened{0};

  static constexpr int SettleMs = 100;

 private:
  class TTcpSendThread;
  class TTcpRecvThread;

  void* SocketWindow() const { return socketWindow_ ? socketWindow_() : nullptr; }

  // Always asynchronous: Write only queues, Read only drains what has arrived.
  bool OpensSynchronously() override { return false; }
  bool OpenDevice(bool sync) override;
  bool MakeWorkers(std::unique_ptr<TSendThread>& send, std::unique_ptr<TCommThread>& receive) override;
  void AfterOpen() override { Opened = 1; }
  Clock& KindClock() override { return clock_; }
  void BeforeStop() override;
  void ReleaseDevice() override;
  int WriteDevice(int, const char*, int, int* written) override { return Refused(written); }
  int ReadDevice(void*, int, int* got) override { return Refused(got); }
  static int Refused(int* count) {
    if (count) *count = 0;
    return 0;
  }

  WindowSource socketWindow_;
  Clock& clock_;
  std::unique_ptr<SocketLibrary> library_;
  std::atomic<SocketHandle> socket_{InvalidSocketHandle};
  char addressText_[16] = "192.168.192.168";
  std::unique_ptr<TNetStatusChannel> statusChannel_;
};

}  // namespace qx
