#include "port/usb/usb_printer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "port/serial/serial_rules.h"

namespace qx {

namespace {

constexpr std::uint32_t ListingBufferSize = 4096;

}  // namespace

QX_USBPrinterClass::QX_USBPrinterClass(DeviceCalls& calls) : calls_(calls) {}

QX_USBPrinterClass::~QX_USBPrinterClass() { Close(); }

int QX_USBPrinterClass::Open(const char* path) {
  if (handle_.Valid()) return 1;
  std::string target;
  if (path) {
    target = path;
  } else if (!calls_.FindDeviceInterfacePath(UsbPrintInterfaceClass, static_cast<std::uint32_t>(DeviceIndex),
                                             target)) {
    return 0;
  }
  std::uint32_t error = 0;
  SeamHandle device(calls_, calls_.CreateFileA(target.c_str(), win::GenericRead | win::GenericWrite, 0,
                                               win::OpenExisting, win::FileFlagOverlapped, error));
  if (!device.Valid()) return 0;
  auto write = PendingIo::Make(calls_, usbprint::ReadUnit);
  if (!write) return 0;
  auto read = PendingIo::Make(calls_, usbprint::ReadUnit);
  if (!read) return 0;
  handle_ = std::move(device);
  write_ = std::move(write);
  read_ = std::move(read);
  return 1;
}

int QX_USBPrinterClass::Close() {
  if (handle_.Valid()) {
    // Nothing of ours may still be in flight when the records go.
    CancelWrite();
    read_.reset();
    write_.reset();
    handle_.Reset();
  }
  // Kept bytes belong to this opening: the next one must not take them as its answer.
  pendingCount_ = 0;
  return 1;
}

bool QX_USBPrinterClass::SetCommand(std::uint8_t request) {
  const std::uint8_t in[3] = {request, 0x00, 0x00};
  std::uint32_t returned = 0;
  return calls_.DeviceIoControl(handle_.Get(), usbprint::VendorSetCommand, in, sizeof in, nullptr, 0, returned) ==
         win::DeviceOk;
}

bool QX_USBPrinterClass::GetCommand(std::uint8_t request, std::uint32_t& answer) {
  const std::uint8_t in[3] = {request, 0x00, 0x00};
  std::uint8_t out[4] = {};
  std::uint32_t returned = 0;
  if (calls_.DeviceIoControl(handle_.Get(), usbprint::VendorGetCommand, in, sizeof in, out, sizeof out, returned) !=
      win::DeviceOk) {
    return false;
  }
  answer = static_cast<std::uint32_t>(out[0]) | static_cast<std::uint32_t>(out[1]) << 8 |
           static_cast<std::uint32_t>(out[2]) << 16 | static_cast<std::uint32_t>(out[3]) << 24;
  return true;
}

void QX_USBPrinterClass::CancelWrite() {
  std::uint32_t unused = 0;
  CancelWithin(calls_, handle_.Get(), write_, CancelLimitMs, unused);
}

int QX_USBPrinterClass::Write(const char* data, int length, std::uint32_t& count) {
  count = 0;
  if (data == nullptr || length <= 0) return 0;
  if (!SetCommand(usbprint::ReqWriteBegin)) return 0;
  const std::uint32_t start = calls_.TickCount();
  const std::uint32_t limit =
      WriteTimeLimit(static_cast<std::uint32_t>(length), WriteTimeoutMultiplier, WriteTimeoutConstant);
  const auto size = static_cast<std::uint32_t>(length);
  bool secondAttempt = true;
  for (;;) {
    count = 0;
    // The driver reads the bytes from the port's own buffer, which outlives the call.
    if (!EnsureRequest(calls_, write_, size)) return 0;
    std::memcpy(write_->Buffer(), data, size);
    std::uint32_t error = calls_.WriteFile(handle_.Get(), write_->Buffer(), size, count, &write_->Rearm());
    bool completed = error != win::ErrorIoPending;
    if (!completed) {
      write_->InFlight = true;
      for (;;) {
        error = calls_.GetOverlappedResult(handle_.Get(), &write_->Record(), count, false);
        if (error == win::DeviceOk) {
          completed = true;
          write_->InFlight = false;
          break;
        }
        if (TicksSince(start, calls_.TickCount()) > limit || error == win::ErrorGenFailure) break;
        calls_.Sleep(1);
      }
    }
    if (completed) {
      std::uint32_t answer = 0;
      if (GetCommand(usbprint::ReqGetCount, answer)) count = answer;
      return 1;
    }

    // Timed out: tell the printer, ask what it took, and reset its side when nothing.
    std::uint32_t answer = 0;
    const bool told = SetCommand(usbprint::ReqWriteTimeout) && GetCommand(usbprint::ReqGetCount, answer);
    if (told && answer != 0) {
      CancelWrite();
      count = answer;
      return 1;
    }
    const bool reset = told && SetCommand(usbprint::ReqWriteReset);
    // The first write must be gone before its record carries the second one.
    CancelWrite();
    count = 0;
    if (!reset) return 0;
    if (!secondAttempt) return 1;
    secondAttempt = false;
  }
}

std::uint32_t QX_USBPrinterClass::Transfer(void* buffer, std::uint32_t size) {
  if (!EnsureRequest(calls_, read_, size)) return 0;
  std::uint32_t n = 0;
  std::uint32_t error = calls_.ReadFile(handle_.Get(), read_->Buffer(), size, n, &read_->Rearm());
  if (error == win::ErrorIoPending) {
    read_->InFlight = true;
    const std::uint32_t start = calls_.TickCount();
    for (;;) {
      n = 0;
      error = calls_.GetOverlappedResult(handle_.Get(), &read_->Record(), n, false);
      if (error != win::ErrorIoPending && error != win::ErrorIoIncomplete) {
        read_->InFlight = false;
        break;
      }
      if (TicksSince(start, calls_.TickCount()) >= PendingReadLimitMs) {
        // Bytes that came meanwhile are reported with the cancelled read; a read the
        // driver never ends is given up with the port's buffer.
        if (!CancelWithin(calls_, handle_.Get(), read_, CancelLimitMs, n)) return 0;
        break;
      }
      calls_.Sleep(1);
    }
  }
  n = std::min(n, size);
  std::memcpy(buffer, read_->Buffer(), n);
  return n;
}

int QX_USBPrinterClass::Read(void* buffer, int length, int& got) {
  got = 0;
  if (buffer == nullptr || length <= 0) return 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  if (pendingCount_ > 0) {
    if (pendingCount_ > length) {
      std::memcpy(out, pending_, static_cast<std::size_t>(length));
      std::memmove(pending_, pending_ + length, static_cast<std::size_t>(pendingCount_ - length));
      pendingCount_ -= length;
      got = length;
    } else {
      std::memcpy(out, pending_, static_cast<std::size_t>(pendingCount_));
      got = pendingCount_;
      pendingCount_ = 0;
    }
    return 1;
  }
  if (!handle_.Valid()) return 0;
  if (length < usbprint::ReadUnit) {
    std::uint8_t unit[usbprint::ReadUnit];
    const int n = static_cast<int>(Transfer(unit, sizeof unit));
    got = std::min(n, length);
    std::memcpy(out, unit, static_cast<std::size_t>(got));
    pendingCount_ = n - got;
    std::memcpy(pending_, unit + got, static_cast<std::size_t>(pendingCount_));
    return 1;
  }
  got = static_cast<int>(Transfer(out, PrinterReadRequest(length)));
  return 1;
}

void QX_USBPrinterClass::ListDevices(std::FILE* out) {
  for (int i = 0; i < ListingSlots; ++i) {
    std::string path;
    if (!calls_.FindDeviceInterfacePath(UsbPrintInterfaceClass, static_cast<std::uint32_t>(i), path)) continue;
    const std::string dosName = DosNameOfInterfacePath(path);
    char names[ListingBufferSize] = {};
    const std::uint32_t stored = calls_.QueryDosDeviceA(dosName.c_str(), names, sizeof names);
    if (stored == 0) {
      std::fputs(UsbListingLine(i).c_str(), out);
      break;
    }
    for (const std::string& name : SplitTargetList(names, stored, sizeof names)) {
      std::fputs(UsbListingLine(i, name.c_str()).c_str(), out);
    }
  }
  std::fflush(out);
}

TQXUSBPRN::TQXUSBPRN(int portId, DeviceCalls& calls) : TWorkerlessPort(portId, KindUsbPrinter), UsbPrinterDevice(calls) {}

TQXUSBPRN::~TQXUSBPRN() { Close(); }

int TQXUSBPRN::Open() { return UsbPrinterDevice.Open(); }

int TQXUSBPRN::Write(int, const char* data, int length, int* written) {
  std::uint32_t count = 0;
  const int result = UsbPrinterDevice.Write(data, length, count);
  const int taken = result == 1 ? static_cast<int>(std::min<std::uint32_t>(count, static_cast<std::uint32_t>(length))) : 0;
  if (written) *written = taken;
  // Success means every byte went out, as for every kind: a write the printer took
  // nothing of (or only part of) is not reported as done.
  return result == 1 && taken == length ? 1 : 0;
}

int TQXUSBPRN::Read(void* buffer, int length, int* got) {
  int n = 0;
  const int result = UsbPrinterDevice.Read(buffer, length, n);
  if (got) *got = n;
  return result;
}

int TQXUSBPRN::Close() { return UsbPrinterDevice.Close(); }

int TQXUSBPRN::DeviceRequest() { return UsbPrinterDevice.SetCommand(usbprint::ReqDevice) ? 1 : 0; }

int TQXUSBPRN::GetDeviceInfo(void*) {
  UsbPrinterDevice.ListDevices(stdout);
  return 0;
}

int TQXUSBPRN::Configure(const PortSettings* settings) {
  if (settings == nullptr) return 0;
  UsbPrinterDevice.DeviceIndex = settings->DeviceNumber;
  UsbPrinterDevice.WriteTimeoutMultiplier = settings->WriteTimeoutMultiplier;
  UsbPrinterDevice.WriteTimeoutConstant = settings->WriteTimeoutConstant;
  return 1;
}

}  // namespace qx
