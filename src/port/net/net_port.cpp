#include "port/net/net_port.h"

#include <cstdio>
#include <cstring>


#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#endif

namespace qx {

namespace {

constexpr int RecvWaitMs = 2000;
// The receive worker's wait is cut into slices so that a stop is seen soon.
constexpr int RecvWaitSliceMs = 100;

// The socket window learns of a connect made at once as if it had completed later.
void PostConnectNotice(void* window, SocketHandle s) {
#ifdef _WIN32
  if (window) PostMessageA(static_cast<HWND>(window), SocketNotifyMessage, static_cast<WPARAM>(s), SocketConnectEvent);
#else
  (void)window;
  (void)s;
#endif
}

void CancelWindowNotices(void* window, SocketHandle s) {
#ifdef _WIN32
  if (window) WSAAsyncSelect(static_cast<SOCKET>(s), static_cast<HWND>(window), 0, 0);
#else
  (void)window;
  (void)s;
#endif
}

}  // namespace

class TQXNET::TTcpSendThread final : public TSendThread {
 public:
  TTcpSendThread(TQXNET& owner, SocketHandle s) : TSendThread(owner), socket_(s) {}

 protected:
  bool WritePiece(const char* data, int length, int& taken) override {
    const int n = qx::Send(socket_, data, length);
    taken = n > 0 ? n : 0;
    // A broken connection fails every send until Close: do not spin on it.
    if (n < 0) {
      failures_.Failed();
    } else {
      failures_.Succeeded();
    }
    return true;
  }
  // The rest of a piece that went out in part is sent again at once.
  bool PauseAfterShortPiece() const override { return false; }

 private:
  SocketHandle socket_;
  FailureRun failures_;
};

class TQXNET::TTcpRecvThread final : public TRecvThread {
 public:
  TTcpRecvThread(TQXNET& owner, SocketHandle s) : TRecvThread(owner), socket_(s) {}

 protected:
  bool ReadBlock(char* buffer, int capacity, int& got) override {
    got = 0;
    int ready = 0;
    for (int waited = 0; waited < RecvWaitMs && ready == 0; waited += RecvWaitSliceMs) {
      if (Stopping()) return false;
      ready = WaitReadable(socket_, RecvWaitSliceMs);
    }
    if (ready == 0) return true;
    const int n = qx::Receive(socket_, buffer, capacity);
    got = n > 0 ? n : 0;
    return true;
  }

 private:
  SocketHandle socket_;
};

TQXNET::TQXNET(int portId, WindowSource socketWindow, Clock& clock)
    : TQueuedPort(portId, KindNetwork, 1024, 1024), socketWindow_(std::move(socketWindow)), clock_(clock) {
  library_ = std::make_unique<SocketLibrary>(0x0101);
  if (library_->Started() && library_->Version() == 0x0101) {
    statusChannel_ = std::make_unique<TNetStatusChannel>(*this, clock_);
    statusChannel_->SetAddress(addressText_);
  }
}

TQXNET::~TQXNET() {
  statusChannel_.reset();
  Close();
  library_.reset();
}

int TQXNET::Open() {
  if (Opened == 1) return 1;
  if (TQueuedPort::Open() != 1) return 0;
  clock_.SleepMilliseconds(SettleMs);
  return 1;
}

bool TQXNET::OpenDevice(bool) {
  if (!statusChannel_) return false;
  // Any answer will do: the probe only shows that a printer answers at the address.
  if (statusChannel_->QueryReady() == -1) return false;

  qx::Socket s = qx::Socket::Tcp();
  if (!s.Valid()) {
    socket_ = InvalidSocketHandle;
    return false;
  }
  Ipv4Address address;
  if (!ParseDottedAddress(addressText_, address)) return false;
  if (Connect(s.Handle(), {address, RawPrintPort}) == 0) {
    PostConnectNotice(SocketWindow(), s.Handle());
  } else if (!IsWouldBlock(SocketError())) {
    socket_ = InvalidSocketHandle;
    return false;
  }
  socket_ = s.Release();
  return true;
}

bool TQXNET::MakeWorkers(std::unique_ptr<TSendThread>& send, std::unique_ptr<TCommThread>& receive) {
  send = std::make_unique<TTcpSendThread>(*this, socket_.load());
  receive = std::make_unique<TTcpRecvThread>(*this, socket_.load());
  return true;
}

void TQXNET::BeforeStop() {
  const SocketHandle s = socket_.load();
  CancelWindowNotices(SocketWindow(), s);
  // Shut down first: a worker blocked in send or waiting for input comes back at once.
  Shutdown(s);
}

void TQXNET::ReleaseDevice() {
  const SocketHandle s = socket_.exchange(InvalidSocketHandle);
  if (s != InvalidSocketHandle) CloseSocket(s);
  Opened = 0;
}

int TQXNET::DeviceRequest() { return statusChannel_ ? statusChannel_->SendDeviceRequest() : 0; }

int TQXNET::GetDeviceInfo(void* info) {
  if (!statusChannel_) return 0;
  if (!info) return statusChannel_->ListPrinters();
  return statusChannel_->Identify(*static_cast<NetDeviceInfo*>(info));
}

int TQXNET::IsOpen() { return Opened.load(); }

int TQXNET::IsReady() { return statusChannel_ && statusChannel_->QueryReady() == 1 ? 1 : 0; }

std::intptr_t TQXNET::GetHandle() { return socket_.load(); }

int TQXNET::Configure(const PortSettings* settings) {
  if (!settings) return 0;
  const std::uint8_t* ip = settings->IpAddress;
  std::snprintf(addressText_, sizeof addressText_, "%u.%u.%u.%u", unsigned{ip[0]}, unsigned{ip[1]}, unsigned{ip[2]},
                unsigned{ip[3]});
  if (statusChannel_) statusChannel_->SetAddress(addressText_);
  if (Opened != 1) SetSyncMode(settings->SyncMode);
  return 1;
}

int TQXNET::SetHandshakeBypass(int on) { return statusChannel_ ? statusChannel_->SetBypass(on) : 0; }

}  // namespace qx
