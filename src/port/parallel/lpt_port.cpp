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
class TQXLPT::TLptSendThread final : public TFileWorker<TSendThread> {
 public:
  using TFileWorker::TFileWorker;

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
};

// The shared receive loop with an overlapped read of one input block, into the
// worker's own request buffer.
class TQXLPT::TLptRecvThread final : public TFileWorker<TRecvThread> {
 public:
  using TFileWorker::TFileWorker;

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
  const bool nt_ = IsNtPlatform() == 1;
};

TQXLPT::TQXLPT(int portId, DosDeviceFunctions& dosDevices, DeviceCalls& calls)
    : TFilePort(portId, KindParallel, 1024, 256, dosDevices, calls), Timeouts{MAXDWORD, 5, 50, 5, 2000} {}

TQXLPT::~TQXLPT() { Close(); }

std::string TQXLPT::DevicePath() {
  const std::string name = LptDosName(LptCode);
  if (!LptNameMayBeSpooled(LptCode)) return "\\\\.\\" + name;
  return ChooseDevicePath(name, "LptPortName", IsNtFamily() == 1, dosDevices_);
}

bool TQXLPT::OpenDevice(bool sync) {
  UniqueHandle device = OpenFile(DevicePath(), AttributesFor(sync));
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
  send = std::make_unique<TLptSendThread>(*this, device_.Get(), calls_, std::move(writeIo));
  receive = std::make_unique<TLptRecvThread>(*this, device_.Get(), calls_, std::move(readIo));
  return true;
}

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
