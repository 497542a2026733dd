#include "port/usb/usb_port.h"

#include <algorithm>

namespace qx {

namespace {

constexpr const char* QxChannel = "QX";
constexpr const char* QdChannel = "QD";
constexpr std::uint32_t SyncRetryPauseMs = 10;

// The driver's count of bytes that went out before a write timed out (0 if unknown).
std::uint32_t Transferred(DeviceCalls& calls, DeviceHandle device) {
  std::uint8_t word[4] = {};
  std::uint32_t returned = 0;
  if (calls.DeviceIoControl(device, vusb::GetTransferred, nullptr, 0, word, sizeof word, returned) != win::DeviceOk ||
      returned < sizeof word) {
    return 0;
  }
  return static_cast<std::uint32_t>(word[0]) | static_cast<std::uint32_t>(word[1]) << 8 |
         static_cast<std::uint32_t>(word[2]) << 16 | static_cast<std::uint32_t>(word[3]) << 24;
}

}  // namespace

// The shared send loop with the vendor write step: plain writes, retried every 10 ms
// up to the driver's write time-out for the piece; a driver time-out ends the attempt
// with the driver's own count of what went out.
class TQXUSB::TUsbSendThread final : public TSendThread {
 public:
  TUsbSendThread(TQXUSB& port, const DriverTimeouts& configured)
      : TSendThread(port), port_(port), calls_(port.calls_), configured_(configured) {}

 protected:
  bool WritePiece(const char* data, int length, int& taken) override {
    // The port may be gone once a call returns (Close gives up on a worker whose write
    // the driver never ends): only the seam, the worker's own copies and `data` (its
    // staging buffer) between the device calls.
    DeviceHandle device = InvalidDeviceHandle;
    if (!WithOwner([&] { device = port_.active_.load(); })) return false;
    std::uint8_t block[TimeoutBlockSize] = {};
    std::uint32_t returned = 0;
    DriverTimeouts held = configured_;
    if (calls_.DeviceIoControl(device, vusb::GetTimeouts, nullptr, 0, block, sizeof block, returned) == win::DeviceOk) {
      DecodeTimeouts(block, returned, held);
    }
    const auto size = static_cast<std::uint32_t>(length);
    const std::uint32_t limit = SendRetryLimit(size, held);
    std::uint32_t retries = 0;
    // Bytes of this piece that earlier, failed attempts moved: the next attempt goes
    // on after them, so that nothing goes out twice.
    std::uint32_t moved = 0;
    for (;;) {
      const std::uint32_t rest = size - moved;
      std::uint32_t n = 0;
      const std::uint32_t error = calls_.WriteFile(device, data + moved, rest, n, nullptr);
      if (error == win::DeviceOk) {
        taken = static_cast<int>(moved + std::min(n, rest));
        return true;
      }
      if (error == win::ErrorSemTimeout) {
        taken = static_cast<int>(moved + std::min(Transferred(calls_, device), rest));
        return true;
      }
      moved += std::min(n, rest);
      if (moved == size || ++retries > limit) {
        taken = static_cast<int>(moved);
        return true;
      }
      if (Stopping()) return false;
      calls_.Sleep(SyncRetryPauseMs);
      if (!WithOwner([&] { device = port_.active_.load(); })) return false;
    }
  }

 private:
  TQXUSB& port_;
  DeviceCalls& calls_;
  const DriverTimeouts configured_;
};

// The shared receive loop with one plain read of the input block size per pass. A
// driver that never answers the read holds it there; Close then gives up on it.
class TQXUSB::TUsbRecvThread final : public TRecvThread {
 public:
  explicit TUsbRecvThread(TQXUSB& port) : TRecvThread(port), port_(port) {}

 protected:
  bool ReadBlock(char* buffer, int capacity, int& got) override {
    // The port may be gone once the read returns (Close gives up on a worker whose read
    // the driver never answers): only the seam and the worker's own buffer after it.
    DeviceCalls* calls = nullptr;
    DeviceHandle device = InvalidDeviceHandle;
    if (!WithOwner([&] {
          calls = &port_.calls_;
          device = port_.active_.load();
        })) {
      return false;
    }
    std::uint32_t n = 0;
    calls->ReadFile(device, buffer, static_cast<std::uint32_t>(capacity), n, nullptr);
    got = static_cast<int>(std::min<std::uint32_t>(n, static_cast<std::uint32_t>(capacity)));
    return true;
  }

 private:
  TQXUSB& port_;
};

TQXUSB::TQXUSB(int portId, DeviceCalls& calls) : TQueuedPort(portId, KindVendorUsb, 1024, 256), calls_(calls) {}

TQXUSB::~TQXUSB() { Close(); }

bool TQXUSB::Control(std::uint32_t code, const void* in, std::uint32_t inSize, void* out, std::uint32_t outSize,
                     std::uint32_t* returned) {
  std::uint32_t count = 0;
  const bool ok = calls_.DeviceIoControl(active_.load(), code, in, inSize, out, outSize, count) == win::DeviceOk;
  if (returned) *returned = count;
  return ok;
}

void TQXUSB::OpenChannels(const std::string& qxPath, const std::string& qdPath, std::uint32_t flags) {
  constexpr std::uint32_t access = win::GenericRead | win::GenericWrite;
  constexpr std::uint32_t share = win::FileShareRead | win::FileShareWrite;
  auto open = [&](const std::string& path) {
    std::uint32_t error = 0;
    if (path.empty()) return SeamHandle();
    return SeamHandle(calls_, calls_.CreateFileA(path.c_str(), access, share, win::OpenExisting, flags, error));
  };
  // A handle of an earlier attempt that this one replaces is released here.
  if (ModeOpensQx(ChannelMode)) qx_ = open(qxPath);
  if (ModeOpensQd(ChannelMode)) qd_ = open(qdPath);
}

bool TQXUSB::SendTimeouts(DeviceHandle channel) {
  std::uint8_t block[TimeoutBlockSize];
  EncodeTimeouts(Timeouts, block);
  std::uint32_t returned = 0;
  return IsValidHandle(channel) &&
         calls_.DeviceIoControl(channel, vusb::SetTimeouts, block, sizeof block, nullptr, 0, returned) == win::DeviceOk;
}

void TQXUSB::ReleaseHandles() {
  active_ = InvalidDeviceHandle;
  qx_.Reset();
  qd_.Reset();
}

bool TQXUSB::OpenDevice(bool) {
  ReleaseHandles();
  OpenChannels(FixedChannelName(DeviceNumber, QxChannel), FixedChannelName(DeviceNumber, QdChannel), 0);
  if (!qx_.Valid()) {
    std::string path;
    if (!calls_.FindDeviceInterfacePath(VendorUsbInterfaceClass, static_cast<std::uint32_t>(DeviceNumber), path)) {
      ReleaseHandles();
      return false;
    }
    OpenChannels(InterfaceChannelName(path, QxChannel), InterfaceChannelName(path, QdChannel),
                 win::FileAttributeNormal);
  }
  if (ChannelMode == 2) UseQdChannel = 1;
  active_ = UseQdChannel == 1 ? qd_.Get() : qx_.Get();
  if (!IsValidHandle(active_.load())) {
    ReleaseHandles();
    return false;
  }
  if ((ModeOpensQx(ChannelMode) && !SendTimeouts(qx_.Get())) ||
      (ModeOpensQd(ChannelMode) && qd_.Valid() && !SendTimeouts(qd_.Get()))) {
    ReleaseHandles();
    return false;
  }
  return true;
}

bool TQXUSB::MakeWorkers(std::unique_ptr<TSendThread>& send, std::unique_ptr<TCommThread>& receive) {
  send = std::make_unique<TUsbSendThread>(*this, Timeouts);
  receive = std::make_unique<TUsbRecvThread>(*this);
  return true;
}

int TQXUSB::WriteDevice(int tag, const char* data, int length, int* written) {
  const std::uint32_t start = calls_.TickCount();
  const std::uint32_t limit = WriteTimeLimit(static_cast<std::uint32_t>(length), Timeouts.WriteMultiplier,
                                             Timeouts.WriteConstant);
  const auto size = static_cast<std::uint32_t>(length);
  std::uint32_t total = 0;
  for (;;) {
    const std::uint32_t remaining = size - total;
    std::uint32_t n = 0;
    const std::uint32_t error = calls_.WriteFile(active_.load(), data + total, remaining, n, nullptr);
    if (error == win::ErrorSemTimeout) {
      // The driver gave up; its own count says how much of this attempt went out.
      n = Transferred(calls_, active_.load());
    }
    total += std::min(n, remaining);
    if (error == win::DeviceOk || error == win::ErrorSemTimeout || total == size) break;
    calls_.Sleep(SyncRetryPauseMs);
    if (TicksSince(start, calls_.TickCount()) >= limit) break;
  }
  if (written) *written = static_cast<int>(total);
  const int result = total == size ? 1 : 0;
  NotifyWriteProgress(tag, static_cast<int>(total), result);
  return result;
}

int TQXUSB::ReadDevice(void* buffer, int length, int* got) {
  std::uint32_t n = 0;
  // The result of the call says nothing the count does not.
  calls_.ReadFile(active_.load(), buffer, static_cast<std::uint32_t>(length), n, nullptr);
  n = std::min(n, static_cast<std::uint32_t>(length));
  if (got) *got = static_cast<int>(n);
  return n == static_cast<std::uint32_t>(length) ? 1 : 0;
}

int TQXUSB::DeviceRequest() {
  if (!IsOpen()) return 0;
  std::uint8_t in[4] = {};
  std::uint8_t out[4] = {};
  return Control(vusb::DeviceRequest, in, sizeof in, out, sizeof out) ? 1 : 0;
}

int TQXUSB::GetDeviceInfo(void* info) {
  auto* record = static_cast<DeviceInfo*>(info);
  if (record == nullptr) return 0;
  QueryDeviceInfo(
      *record, IsOpen() == 1,
      [this](std::uint32_t code, void* out, std::uint32_t outSize, std::uint32_t& returned) {
        return Control(code, nullptr, 0, out, outSize, &returned);
      },
      1024, UsbStatusFromDeviceState);
  return 0;
}

int TQXUSB::IsOpen() { return IsValidHandle(active_.load()) ? 1 : 0; }

int TQXUSB::IsReady() {
  if (!IsOpen()) return 0;
  std::uint8_t status[2] = {};
  std::uint32_t returned = 0;
  if (!Control(vusb::GetStatus, nullptr, 0, status, sizeof status, &returned)) return 0;
  return (status[0] & vusb::StatusBusy) ? 0 : 1;
}

int TQXUSB::CheckDevicePresent() {
  if (!IsOpen()) return 0;
  std::uint8_t status[4] = {};
  return Control(vusb::GetStatus, nullptr, 0, status, sizeof status) ? 1 : 0;
}

std::intptr_t TQXUSB::GetHandle() { return reinterpret_cast<std::intptr_t>(active_.load()); }

int TQXUSB::Configure(const PortSettings* settings) {
  if (settings == nullptr) return 0;
  DeviceNumber = VendorDeviceNumber(settings->DeviceNumber);
  const int qd = QdSelected(settings->Channel);
  if (!qx_.Valid()) {
    UseQdChannel = qd;
  } else if (qd == 1 && qd_.Valid()) {
    UseQdChannel = 1;
    active_ = qd_.Get();
  } else {
    UseQdChannel = 0;
    active_ = qx_.Get();
  }
  ChannelMode = ChannelModeFor(settings->Channel);
  Timeouts = {settings->ReadTimeoutMultiplier, settings->ReadTimeoutConstant, settings->WriteTimeoutMultiplier,
              settings->WriteTimeoutConstant};
  if (!IsOpen()) {
    SetSyncMode(settings->SyncMode);
    return 1;
  }
  if (qx_.Valid() && !SendTimeouts(qx_.Get())) return 0;
  if (qd_.Valid() && !SendTimeouts(qd_.Get())) return 0;
  return 1;
}

int TQXUSB::SetHandshakeBypass(int on) {
  if (!IsOpen()) return 0;
  if (on != 0) {
    const std::uint8_t bypass[2] = {0x02, 0x00};
    return Control(vusb::SetControl, bypass, sizeof bypass, nullptr, 0) ? 1 : 0;
  }
  const std::uint8_t normal[2] = {0x00, 0x00};
  const std::uint32_t start = calls_.TickCount();
  for (;;) {
    if (!Control(vusb::SetControl, normal, sizeof normal, nullptr, 0)) return 0;
    std::uint8_t status[4] = {};
    if (!Control(vusb::GetStatus, nullptr, 0, status, sizeof status)) return 0;
    if ((status[0] & vusb::StatusHeld) == 0) return 1;
    // A driver that never lets the held data go must not hang the caller.
    if (TicksSince(start, calls_.TickCount()) >= HandshakeReleaseLimitMs) return 0;
    calls_.Sleep(1);
  }
}

}  // namespace qx
