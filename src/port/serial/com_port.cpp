#include "port/serial/com_port.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/os_version.h"
#include "platform/time.h"
#include "port/device/overlapped_io_win32.h"

namespace qx {

namespace {

constexpr DWORD AllPurges = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// The line settings of a new port.
DCB InitialDcb() {
  return DCB{.DCBlength = 28, .BaudRate = 19200, .fBinary = 1, .fParity = 1, .fOutxCtsFlow = 0, .fOutxDsrFlow = 1,
             .fDtrControl = DTR_CONTROL_HANDSHAKE, .fDsrSensitivity = 0, .fTXContinueOnXoff = 0, .fOutX = 0, .fInX = 0,
             .fErrorChar = 0, .fNull = 0, .fRtsControl = RTS_CONTROL_DISABLE, .fAbortOnError = 1, .fDummy2 = 0,
             .wReserved = 0, .XonLim = 0, .XoffLim = 0, .ByteSize = 8, .Parity = NOPARITY, .StopBits = ONESTOPBIT,
             .XonChar = 0x11, .XoffChar = 0x13, .ErrorChar = 0, .EofChar = 0, .EvtChar = 0, .wReserved1 = 0};
}

static_assert(DtrControlHandshake == DTR_CONTROL_HANDSHAKE && DtrControlEnable == DTR_CONTROL_ENABLE);
static_assert(RtsControlHandshake == RTS_CONTROL_HANDSHAKE && RtsControlEnable == RTS_CONTROL_ENABLE);

}  // namespace

// The shared send loop with the serial write step: clear the error state and write.
// A write that fails at once is reported once per run of such failures and tried
// again after 1 ms, so that a device that has gone neither spins a core nor floods
// standard output until Close.
class TQXCOM::TComSendThread final : public TFileWorker<TSendThread> {
 public:
  using TFileWorker::TFileWorker;

 protected:
  bool WritePiece(const char* data, int length, int& taken) override {
    taken = 0;
    if (!io_) return false;  // given up at a stop
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(device_, &errors, &status);
    DWORD count = 0;
    const DWORD error = StartWrite(device_, *io_, data, length, count, calls_);
    if (error != ERROR_SUCCESS && error != ERROR_IO_PENDING) {
      if (failures_.Failed()) {
        std::printf("%s, error %lu, count %lu\n", WriteFailedLine, static_cast<unsigned long>(error),
                    static_cast<unsigned long>(count));
        std::fflush(stdout);
      }
      taken = static_cast<int>(count);
      return true;
    }
    failures_.Succeeded();
    if (error == ERROR_SUCCESS) {
      taken = static_cast<int>(count);
      return true;
    }
    const bool going = PollPending(device_, io_, count, [this] { return Stopping(); }, calls_);
    taken = static_cast<int>(count);
    return going;
  }
  bool PauseAfterShortPiece() const override { return false; }

 private:
  FailureRun failures_;
};

// Waits for received characters and reports them; the data stays in the device. Only
// a stop ends it (the port clears the comm mask at close, which ends a pending wait).
// A wait that fails (a line error stops the device until its error state is cleared)
// clears the error state, and it, or one that reports no characters, is made again
// after a pause.
class TQXCOM::TComRecvThread final : public TFileWorker<TCommThread> {
 public:
  using TFileWorker::TFileWorker;

  static constexpr int ErrorPauseMs = 10;

 protected:
  void Execute() override {
    while (!Stopping()) {
      if (!HonourSuspend()) return;
      if (!io_) return;
      auto* mask = reinterpret_cast<DWORD*>(io_->Buffer());
      *mask = 0;
      // The handle is overlapped, so the wait must be too; it is woken by the event,
      // and a stop is seen within one slice even if the driver never completes it.
      OVERLAPPED& overlapped = io_->Rearm();
      bool waited = WaitCommEvent(device_, mask, &overlapped) != 0;
      if (!waited && GetLastError() == ERROR_IO_PENDING) {
        io_->InFlight = true;
        while (WaitForSingleObject(overlapped.hEvent, 50) == WAIT_TIMEOUT) {
          if (Stopping()) {
            CancelBounded(device_, io_);
            return;
          }
        }
        io_->InFlight = false;
        DWORD unused = 0;
        waited = GetOverlappedResult(device_, &overlapped, &unused, FALSE) != 0;
      }
      if (Stopping()) return;
      if (!waited) {
        DWORD errors = 0;
        COMSTAT status{};
        ClearCommError(device_, &errors, &status);
      }
      if (!waited || (*mask & EV_RXCHAR) == 0) {
        SleepMilliseconds(ErrorPauseMs);
        continue;
      }
      Owner.NotifyDataArrived();
      SleepMilliseconds(1);
    }
  }
};

TQXCOM::TQXCOM(int portId, DosDeviceFunctions& dosDevices, DeviceCalls& calls)
    : TFilePort(portId, KindSerial, 1024, 4096, dosDevices, calls),
      Dcb(InitialDcb()),
      Timeouts{MAXDWORD, 0, 0, 0, 2000} {}

TQXCOM::~TQXCOM() { Close(); }

std::string TQXCOM::DevicePath() {
  return ChooseDevicePath("COM" + std::to_string(PortNumber + 1), "ComPortName", IsNtFamily() == 1, dosDevices_);
}

void TQXCOM::ClearErrors() {
  DWORD errors = 0;
  COMSTAT status{};
  ClearCommError(device_.Get(), &errors, &status);
}

void TQXCOM::RaiseLines() {
  EscapeCommFunction(device_.Get(), SETDTR);
  EscapeCommFunction(device_.Get(), SETRTS);
}

bool TQXCOM::OpenDevice(bool sync) {
  const DWORD attributes = AttributesFor(sync);
  UniqueHandle device = OpenFile(DevicePath(), attributes);
  if (!device.Valid()) return false;
  DCB dcb = Dcb;
  COMMTIMEOUTS timeouts = Timeouts;
  if (!SetCommState(device.Get(), &dcb) || !SetupComm(device.Get(), 4096, 4096) ||
      !PurgeComm(device.Get(), AllPurges) || !SetCommTimeouts(device.Get(), &timeouts)) {
    return false;
  }
  device_ = std::move(device);
  openAttributes_ = attributes;
  return true;
}

bool TQXCOM::MakeWorkers(std::unique_ptr<TSendThread>& send, std::unique_ptr<TCommThread>& receive) {
  auto writeIo = MakeRequest(MaxOutputBlockSize);
  auto maskIo = MakeRequest(sizeof(DWORD));
  if (!writeIo || !maskIo || !EnsureRequest(Kernel32DeviceCalls(), read_, 4096)) return false;
  // Added before the receive worker starts, so that a close cannot clear the mask
  // before the worker's first wait.
  DWORD mask = 0;
  GetCommMask(device_.Get(), &mask);
  SetCommMask(device_.Get(), mask | EV_RXCHAR);
  send = std::make_unique<TComSendThread>(*this, device_.Get(), calls_, std::move(writeIo));
  receive = std::make_unique<TComRecvThread>(*this, device_.Get(), calls_, std::move(maskIo));
  return true;
}

int TQXCOM::ReadDevice(void* buffer, int length, int* got) {
  if (OpenedSynchronously()) return TFilePort::ReadDevice(buffer, length, got);
  DWORD count = 0;
  ClearErrors();
  // The device reads into the port's own buffer, which outlives a read it never ends.
  if (!EnsureRequest(Kernel32DeviceCalls(), read_, static_cast<std::uint32_t>(length))) {
    if (got) *got = 0;
    return 0;
  }
  OVERLAPPED& overlapped = read_->Rearm();
  if (!ReadFile(device_.Get(), read_->Buffer(), static_cast<DWORD>(length), &count, &overlapped)) {
    if (GetLastError() != ERROR_IO_PENDING) {
      count = std::min<DWORD>(count, static_cast<DWORD>(length));
      std::memcpy(buffer, read_->Buffer(), count);
      if (got) *got = static_cast<int>(count);
      return 0;
    }
    read_->InFlight = true;
    // Poll until the read completes. The time-outs set on the device end it; a
    // driver that does not honour them is cancelled after the read time-out plus a
    // grace. A completion that reports an error (an empty read may end with
    // ERROR_TIMEOUT) is final: the error state is cleared, the result read once
    // more, and the read ends with the bytes that arrived.
    const std::int64_t limit = static_cast<std::int64_t>(Timeouts.ReadTotalTimeoutMultiplier) * length +
                               Timeouts.ReadTotalTimeoutConstant + ReadGraceMilliseconds;
    const std::int64_t deadline = SteadyMilliseconds() + limit;
    int errorReports = 0;
    for (;;) {
      count = 0;
      if (GetOverlappedResult(device_.Get(), &overlapped, &count, FALSE)) break;
      if (GetLastError() != ERROR_IO_INCOMPLETE) {
        ClearErrors();
        if (++errorReports >= 2) break;
        continue;
      }
      const std::int64_t left = deadline - SteadyMilliseconds();
      if (left <= 0) {
        count = CancelBounded(device_.Get(), read_);
        break;
      }
      // Wakes at once on completion; no busy polling.
      WaitForSingleObject(overlapped.hEvent, static_cast<DWORD>(std::min<std::int64_t>(left, 10)));
    }
    if (read_) read_->InFlight = false;
  }
  count = std::min<DWORD>(count, static_cast<DWORD>(length));
  if (read_) std::memcpy(buffer, read_->Buffer(), count);
  ClearErrors();
  const int n = static_cast<int>(count);
  if (got) *got = n;
  return n == length ? 1 : 0;
}

void TQXCOM::WakeReceiveWorker() {
  // A zero mask completes the worker's pending wait with an empty mask.
  SetCommMask(device_.Get(), 0);
}

void TQXCOM::BeforeStop() {
  ClearErrors();
  EscapeCommFunction(device_.Get(), CLRDTR);
  EscapeCommFunction(device_.Get(), CLRRTS);
  PurgeComm(device_.Get(), AllPurges);
}

void TQXCOM::ReleaseDevice() {
  read_.reset();
  device_.Reset();
}

int TQXCOM::DeviceRequest() {
  if (!IsOpen()) return 0;
  DWORD in = 0, out = 0, returned = 0;
  return DeviceIoControl(device_.Get(), vusb::DeviceRequest, &in, sizeof in, &out, sizeof out, &returned, nullptr) ? 1 : 0;
}

int TQXCOM::GetDeviceInfo(void* info) {
  auto* record = static_cast<DeviceInfo*>(info);
  if (record == nullptr) return 0;
  QueryDeviceInfo(
      *record, IsOpen() == 1,
      [this](std::uint32_t code, void* out, std::uint32_t outSize, std::uint32_t& returned) {
        DWORD n = 0;
        const bool ok = DeviceIoControl(device_.Get(), code, nullptr, 0, out, outSize, &n, nullptr) != 0;
        returned = n;
        return ok;
      },
      512, StatusFromDeviceState);
  return 0;
}

int TQXCOM::IsReady() {
  DWORD errors = 0;
  COMSTAT status{};
  if (!IsOpen() || !ClearCommError(device_.Get(), &errors, &status)) return 0;
  return status.fDsrHold ? 0 : 1;
}

int TQXCOM::Configure(const PortSettings* settings) {
  if (settings == nullptr) return 0;
  PortNumber = settings->PortNumber;
  Dcb.BaudRate = BaudRateForCode(settings->BaudCode);
  Dcb.Parity = ParityForCode(settings->ParityCode);
  Dcb.StopBits = StopBitsForCode(settings->StopBitsCode);
  Dcb.ByteSize = static_cast<BYTE>(settings->DataBits);
  Handshake handshake{Dcb.fOutxCtsFlow, Dcb.fOutxDsrFlow, Dcb.fOutX, Dcb.fInX, Dcb.fDtrControl, Dcb.fRtsControl};
  if (HandshakeForCode(settings->FlowControl, handshake)) {
    Dcb.fOutxCtsFlow = handshake.OutxCtsFlow;
    Dcb.fOutxDsrFlow = handshake.OutxDsrFlow;
    Dcb.fOutX = handshake.OutX;
    Dcb.fInX = handshake.InX;
    Dcb.fDtrControl = handshake.DtrControl;
    Dcb.fRtsControl = handshake.RtsControl;
  }
  Dcb.fDsrSensitivity = 0;
  Dcb.XonChar = 0x11;
  Dcb.XoffChar = 0x13;
  Timeouts = {MAXDWORD, settings->ReadTimeoutMultiplier, settings->ReadTimeoutConstant,
              settings->WriteTimeoutMultiplier, settings->WriteTimeoutConstant};
  if (!IsOpen()) {
    SetSyncMode(settings->SyncMode);
    return 1;
  }
  DCB dcb = Dcb;
  COMMTIMEOUTS timeouts = Timeouts;
  if (!SetCommState(device_.Get(), &dcb) || !SetCommTimeouts(device_.Get(), &timeouts)) return 0;
  RaiseLines();
  return 1;
}

int TQXCOM::GetInputAvailable() {
  DWORD errors = 0;
  COMSTAT status{};
  if (!IsOpen() || !ClearCommError(device_.Get(), &errors, &status)) return 0;
  return static_cast<int>(status.cbInQue);
}

void TQXCOM::ClearInput() {
  if (IsOpen()) PurgeComm(device_.Get(), PURGE_RXABORT | PURGE_RXCLEAR);
}

int TQXCOM::GetInputBlockSize() { return 4096; }

int TQXCOM::SetInputBlockSize(int n) { return n >= 1 && n <= MaxInputBlockSize ? 1 : 0; }

int TQXCOM::SetHandshakeBypass(int on) {
  if (!IsOpen()) return 0;
  DCB current{};
  current.DCBlength = sizeof current;
  if (!GetCommState(device_.Get(), &current)) return 0;
  if (on) {
    current.fOutxCtsFlow = 0;
    current.fOutxDsrFlow = 0;
    current.fOutX = 0;
    current.fDsrSensitivity = 0;
  } else {
    current.fOutxCtsFlow = Dcb.fOutxCtsFlow;
    current.fOutxDsrFlow = Dcb.fOutxDsrFlow;
    current.fOutX = Dcb.fOutX;
    current.fDsrSensitivity = Dcb.fDsrSensitivity;
  }
  return SetCommState(device_.Get(), &current) ? 1 : 0;
}

}  // namespace qx
