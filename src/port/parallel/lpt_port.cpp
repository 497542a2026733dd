#include "port/parallel/lpt_port.h"

#include <algorithm>
#include <cstring>

#include "platform/os_version.h"
#include "platform/time.h"
#include "port/parallel/lpt_rules.h"
#include "port/serial/serial_rules.h"
#include "port/device/overlapped_io_win32.h"

namespace qx {

// The shared send loop with a plain overlapped write: an incomplete piece (also after
// an immediate failure) is tried again after 1 ms.
class TQXLPT::TLptSendThread final : public TSendThread {
 public:
  TLptSendThread(TQXLPT& port, HANDLE device, std::unique_ptr<PendingIo> io)
      : TSendThread(port), device_(device), calls_(port.calls_), io_(std::move(io)) {}

 protected:
  bool WritePiece(const char* data, int length, int& taken) override {
    taken = 0;
    if (!io_) return false;  // given up at a stop
    DWORD count = 0;
    bool going = true;
    if (StartWrite(device_, *io_, data, length, count, calls_) == ERROR_IO_PENDING) {
      going = PollPending(device_, io_, count, [this] { return Stopping(); }, calls_);
    }
    taken = static_cast<int>(count);
    return going;
  }

 private:
  HANDLE device_;
  DeviceCalls& calls_;
  std::unique_ptr<PendingIo> io_;
};

// The shared receive loop with an overlapped read of one input block, into the
// worker's own request buffer.
class TQXLPT::TLptRecvThread final : public TRecvThread {
 public:
  TLptRecvThread(TQXLPT& port, HANDLE device, std::unique_ptr<PendingIo> io)
      : TRecvThread(port), device_(device), io_(std::move(io)), nt_(IsNtPlatform() == 1) {}

 protected:
  bool ReadBlock(char* buffer, int capacity, int& got) override {
    got = 0;
    if (!io_) return false;  // given up at a stop
    // Off NT the time-outs do not end a pending read: count 1 ms polls instead.
    std::uint64_t limit = 0;
    if (!nt_) {
      COMMTIMEOUTS timeouts{};
      GetCommTimeouts(device_, &timeouts);
      limit = static_cast<std::uint64_t>(timeouts.ReadTotalTimeoutMultiplier) * capacity +
              timeouts.ReadTotalTimeoutConstant;
    }
    DWORD count = 0;
    if (!ReadFile(device_, io_->Buffer(), static_cast<DWORD>(capacity), &count, &io_->Rearm()) &&
        GetLastError() == ERROR_IO_PENDING) {
      std::uint64_t polls = 0;
      bool stopped = false;
      const bool going = PollPending(device_, io_, count, [&] {
        if (Stopping()) return stopped = true;
        return !nt_ && ++polls > limit;
      });
      if (!going && stopped) return false;
    }
    got = static_cast<int>(std::min<DWORD>(count, static_cast<DWORD>(capacity)));
    if (io_) std::memcpy(buffer, io_->Buffer(), static_cast<std::size_t>(got));
    return true;
  }

 private:
  HANDLE device_;
  std::unique_ptr<PendingIo> io_;
  const bool nt_;
};

TQXLPT::TQXLPT(int portId, DosDeviceFunctions& dosDevices, DeviceCalls& calls)
    : TQueuedPort(portId, KindParallel, 1024, 256),
      Timeouts{MAXDWORD, 5, 50, 5, 2000},
      dosDevices_(dosDevices),
      calls_(calls) {}

TQXLPT::~TQXLPT() { Close(); }

std::string TQXLPT::DevicePath() {
  const std::string name = LptDosName(LptCode);
  if (!LptNameMayBeSpooled(LptCode)) return "\\\\.\\" + name;
  return ChooseDevicePath(name, "LptPortName", IsNtFamily() == 1, dosDevices_);
}

bool TQXLPT::OpenDevice(bool sync) {
  const DWORD attributes = sync ? FILE_ATTRIBUTE_NORMAL : FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL;
  const std::string path = DevicePath();
  UniqueHandle device(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, attributes,
                                  nullptr));
  if (!device.Valid()) return false;
  if (Timeouts.WriteTotalTimeoutConstant < MinimumWriteTimeout) Timeouts.WriteTotalTimeoutConstant = MinimumWriteTimeout;
  COMMTIMEOUTS timeouts = Timeouts;
  if (!SetCommTimeouts(device.Get(), &timeouts)) return false;
  device_ = std::move(device);
  return true;
}

bool TQXLPT::MakeWorkers(std::unique_ptr<TSendThread>& send, std::unique_ptr<TCommThread>& receive) {
  auto writeIo = MakeRequest(MaxOutputBlockSize);
  auto readIo = MakeRequest(MaxInputBlockSize);
  if (!writeIo || !readIo) return false;
  send = std::make_unique<TLptSendThread>(*this, device_.Get(), std::move(writeIo));
  receive = std::make_unique<TLptRecvThread>(*this, device_.Get(), std::move(readIo));
  return true;
}

int TQXLPT::WriteDevice(int tag, const char* data, int length, int* written) {
  DWORD count = 0;
  WriteFile(device_.Get(), data, static_cast<DWORD>(length), &count, nullptr);
  const int n = static_cast<int>(count);
  if (written) *written = n;
  NotifyWriteProgress(tag, n, n == length ? 1 : 0);
  return n == length ? 1 : 0;
}

int TQXLPT::ReadDevice(void* buffer, int length, int* got) {
  DWORD count = 0;
  ReadFile(device_.Get(), buffer, static_cast<DWORD>(length), &count, nullptr);
  const int n = static_cast<int>(count);
  if (got) *got = n;
  return n == length ? 1 : 0;
}

int TQXLPT::IsOpen() { return device_.Valid() ? 1 : 0; }

std::intptr_t TQXLPT::GetHandle() { return reinterpret_cast<std::intptr_t>(device_.Get()); }

int TQXLPT::Configure(const PortSettings* settings) {
  if (settings == nullptr) return 0;
  LptCode = settings->LptCode;
  Timeouts = {MAXDWORD, settings->ReadTimeoutMultiplier, settings->ReadTimeoutConstant,
              settings->WriteTimeoutMultiplier, settings->WriteTimeoutConstant};
  if (!IsOpen()) {
    SetSyncMode(settings->SyncMode);
    return 1;
  }
  COMMTIMEOUTS timeouts = Timeouts;
  return SetCommTimeouts(device_.Get(), &timeouts) ? 1 : 0;
}

}  // namespace qx
