#include "port/parallel/lpt_port.h"

#include "platform/os_version.h"
#include "platform/time.h"
#include "port/parallel/lpt_rules.h"
#include "port/device/overlapped_io_win32.h"

namespace qx {

// The shared send loop with a plain overlapped write: an incomplete piece (also after
// an immediate failure) is tried again after 1 ms.
class TQXLPT::TLptSendThread final : public TSendThread {
 public:
  TLptSendThread(TQXLPT& port, HANDLE device, HANDLE event) : TSendThread(port), device_(device), event_(event) {}

 protected:
  bool WritePiece(const char* data, int length, int& taken) override {
    DWORD count = 0;
    OVERLAPPED overlapped = OverlappedOn(event_);
    bool going = true;
    if (!WriteFile(device_, data, static_cast<DWORD>(length), &count, &overlapped) &&
        GetLastError() == ERROR_IO_PENDING) {
      going = PollPending(device_, overlapped, count, [this] { return Stopping(); });
    }
    taken = static_cast<int>(count);
    return going;
  }

 private:
  HANDLE device_;
  HANDLE event_;
};

// The shared receive loop with an overlapped read of one input block.
class TQXLPT::TLptRecvThread final : public TRecvThread {
 public:
  TLptRecvThread(TQXLPT& port, HANDLE device, HANDLE event)
      : TRecvThread(port), device_(device), event_(event), nt_(IsNtPlatform() == 1) {}

 protected:
  bool ReadBlock(char* buffer, int capacity, int& got) override {
    got = 0;
    // Off NT the time-outs do not end a pending read: count 1 ms polls instead.
    std::uint64_t limit = 0;
    if (!nt_) {
      COMMTIMEOUTS timeouts{};
      GetCommTimeouts(device_, &timeouts);
      limit = static_cast<std::uint64_t>(timeouts.ReadTotalTimeoutMultiplier) * capacity +
              timeouts.ReadTotalTimeoutConstant;
    }
    DWORD count = 0;
    OVERLAPPED overlapped = OverlappedOn(event_);
    if (!ReadFile(device_, buffer, static_cast<DWORD>(capacity), &count, &overlapped)) {
      if (GetLastError() != ERROR_IO_PENDING) {
        got = static_cast<int>(count);
        return true;
      }
      std::uint64_t polls = 0;
      bool stopped = false;
      const bool going = PollPending(device_, overlapped, count, [&] {
        if (Stopping()) return stopped = true;
        return !nt_ && ++polls > limit;
      });
      if (!going && stopped) return false;
    }
    got = static_cast<int>(count);
    return true;
  }

 private:
  HANDLE device_;
  HANDLE event_;
  const bool nt_;
};

TQXLPT::TQXLPT(int portId, DosDeviceFunctions& dosDevices)
    : TQueuedPort(portId, KindParallel, 1024, 256), Timeouts{MAXDWORD, 5, 50, 5, 2000}, dosDevices_(dosDevices) {}

TQXLPT::~TQXLPT() { Close(); }

std::string TQXLPT::DevicePath() {
  const std::string name = LptDosName(LptCode);
  if (!LptNameMayBeSpooled(LptCode)) return "\\\\.\\" + name;
  return ChooseDevicePath(name, "LptPortName", IsNtFamily() == 1, dosDevices_);
}

int TQXLPT::Open() {
  if (IsOpen()) return 1;
  const bool sync = SyncMode != 0;
  const DWORD attributes = sync ? FILE_ATTRIBUTE_NORMAL : FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL;
  const std::string path = DevicePath();
  UniqueHandle device(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, attributes,
                                  nullptr));
  if (!device.Valid()) return 0;
  if (Timeouts.WriteTotalTimeoutConstant < MinimumWriteTimeout) Timeouts.WriteTotalTimeoutConstant = MinimumWriteTimeout;
  COMMTIMEOUTS timeouts = Timeouts;
  if (!SetCommTimeouts(device.Get(), &timeouts)) return 0;
  UniqueHandle writeEvent, readEvent;
  if (!sync) {
    writeEvent = MakeManualResetEvent();
    readEvent = MakeManualResetEvent();
    if (!writeEvent.Valid() || !readEvent.Valid()) return 0;
  }
  device_ = std::move(device);
  writeEvent_ = std::move(writeEvent);
  readEvent_ = std::move(readEvent);
  openSync_ = sync;
  if (!sync) {
    StartWorkers(std::make_unique<TLptSendThread>(*this, device_.Get(), writeEvent_.Get()),
                 std::make_unique<TLptRecvThread>(*this, device_.Get(), readEvent_.Get()));
  }
  NotifyOpened();
  return 1;
}

int TQXLPT::Write(int tag, const char* data, int length, int* written) {
  if (RefuseTransfer(data, length, written)) return 0;
  if (!openSync_) return QueueWrite(tag, data, length, written);
  DWORD count = 0;
  WriteFile(device_.Get(), data, static_cast<DWORD>(length), &count, nullptr);
  const int n = static_cast<int>(count);
  if (written) *written = n;
  NotifyWriteProgress(tag, n, n == length ? 1 : 0);
  return n == length ? 1 : 0;
}

int TQXLPT::Read(void* buffer, int length, int* got) {
  if (RefuseTransfer(buffer, length, got)) return 0;
  if (!openSync_) return TakeInput(buffer, length, got);
  DWORD count = 0;
  ReadFile(device_.Get(), buffer, static_cast<DWORD>(length), &count, nullptr);
  const int n = static_cast<int>(count);
  if (got) *got = n;
  return n == length ? 1 : 0;
}

int TQXLPT::Close() {
  if (!IsOpen()) return 1;
  SleepMilliseconds(100);
  ClearInput();
  ClearOutput();
  if (!openSync_) {
    StopWorkers();
    writeEvent_.Reset();
    readEvent_.Reset();
  }
  device_.Reset();
  NotifyClosed();
  return 1;
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

int TQXLPT::SetSyncMode(int sync) { return SyncMode = sync; }

}  // namespace qx
