#include "sim/usb/simulated_usb.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace qx::test {

namespace {

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

std::string Hex2(std::uint32_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", value & 0xFF);
  return text;
}

void PutLe(void* out, std::uint32_t value, std::uint32_t bytes) {
  auto* at = static_cast<std::uint8_t*>(out);
  for (std::uint32_t i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

constexpr std::uint32_t ErrorInvalidFunction = 1;

}  // namespace

// --- Shared -------------------------------------------------------------------------

DeviceHandle SimulatedDriver::AddObject(Object object) {
  auto handle = reinterpret_cast<DeviceHandle>(nextHandle_);
  nextHandle_ += 4;
  objects_[handle] = std::move(object);
  return handle;
}

SimulatedDriver::Object* SimulatedDriver::Find(DeviceHandle handle) {
  auto it = objects_.find(handle);
  return it == objects_.end() ? nullptr : &it->second;
}

void SimulatedDriver::Bad(std::string line) {
  log_.push_back("BAD " + line);
  bad_.push_back(std::move(line));
}

DeviceHandle SimulatedDriver::CreateEventA(bool, bool) {
  std::lock_guard lock(lock_);
  if (FailEvents > 0) {
    --FailEvents;
    return nullptr;
  }
  Object event;
  event.IsEvent = true;
  return AddObject(event);
}

bool SimulatedDriver::CloseHandle(DeviceHandle handle) {
  std::lock_guard lock(lock_);
  auto it = objects_.find(handle);
  if (it == objects_.end()) {
    Bad("close of an unknown handle");
    return false;
  }
  const Object object = it->second;
  objects_.erase(it);
  if (!object.IsEvent) {
    Note("close " + object.Channel);
    OnClose(object);
  }
  return true;
}

std::uint32_t SimulatedDriver::QueryDosDeviceA(const char* name, char* buffer, std::uint32_t size) {
  std::lock_guard lock(lock_);
  auto it = dosNames_.find(name);
  if (it == dosNames_.end()) return 0;
  std::string list;
  for (const auto& target : it->second) list += target + '\0';
  list += '\0';
  if (list.size() > size) return 0;
  std::memcpy(buffer, list.data(), list.size());
  return static_cast<std::uint32_t>(list.size());
}

std::vector<std::string> SimulatedDriver::Log() const {
  std::lock_guard lock(lock_);
  return log_;
}

std::vector<std::string> SimulatedDriver::Log(std::initializer_list<const char*> starts) const {
  std::vector<std::string> lines;
  for (const auto& line : Log()) {
    if (std::any_of(starts.begin(), starts.end(), [&](const char* s) { return line.rfind(s, 0) == 0; })) {
      lines.push_back(line);
    }
  }
  return lines;
}

void SimulatedDriver::ClearLog() {
  std::lock_guard lock(lock_);
  std::vector<std::string>().swap(log_);  // the room too, for long runs
}

int SimulatedDriver::BadCalls() const {
  std::lock_guard lock(lock_);
  return static_cast<int>(bad_.size());
}

std::vector<std::string> SimulatedDriver::BadCallLog() const {
  std::lock_guard lock(lock_);
  return bad_;
}

int SimulatedDriver::OpenHandles() const {
  std::lock_guard lock(lock_);
  return static_cast<int>(objects_.size());
}

void SimulatedDriver::SetDosNames(const std::string& name, std::vector<std::string> targets) {
  std::lock_guard lock(lock_);
  dosNames_[name] = std::move(targets);
}

// --- Vendor driver ------------------------------------------------------------------

SimVendorUsbDriver::SimVendorUsbDriver(Clock& time, sim::PrinterEngine& engine)
    : SimulatedDriver(time), engine_(engine) {}

std::string SimVendorUsbDriver::InterfacePathFor(int number) {
  char path[128];
  std::snprintf(path, sizeof path, "\\\\?\\usb#vid_0d4c&pid_4007#qx%03d#{5dd901c0-bcf4-11d1-9738-008029e6a5b3}",
                number);
  return path;
}

void SimVendorUsbDriver::AddDevice(int number) {
  std::lock_guard lock(lock_);
  VendorDevice& d = devices_[number];
  d.Link = std::make_unique<sim::HostLink>(engine_);
  d.InterfacePath = InterfacePathFor(number);
  // bcdDevice 2.10 at offset 12.
  d.DeviceDescriptor = std::string("\x12\x01\x00\x02\x00\x00\x00\x40\x4c\x0d\x07\x40\x10\x02\x01\x02\x03\x01", 18);
  auto descriptor = [](const std::string& text) {
    std::string d(1, static_cast<char>(2 + 2 * text.size()));
    d += '\x03';
    for (char c : text) {
      d += c;
      d += '\0';
    }
    return d;
  };
  d.StringDescriptors = std::string("\x04\x03\x09\x04", 4) + descriptor("QX Corp") + descriptor("QX-K40VII") +
                        descriptor("SN0001");
  d.ExtraString = descriptor("QX USB");
  interfaceOrder_.push_back(number);
}

void SimVendorUsbDriver::Change(int number, const std::function<void(VendorDevice&)>& change) {
  {
    std::lock_guard lock(lock_);
    change(devices_.at(number));
  }
  callsReleased_.notify_all();
}

int SimVendorUsbDriver::WaitingCalls() const {
  std::lock_guard lock(lock_);
  return waitingCalls_;
}

bool SimVendorUsbDriver::FindDeviceInterfacePath(const Guid& interfaceClass, std::uint32_t index, std::string& path) {
  std::lock_guard lock(lock_);
  path.clear();
  Note("lookup " + std::to_string(index));
  if (!(interfaceClass == VendorUsbInterfaceClass)) return false;
  std::uint32_t at = 0;
  for (int number : interfaceOrder_) {
    const VendorDevice& d = devices_.at(number);
    if (!d.HasInterface || !d.Present) continue;
    if (at++ == index) {
      if (!d.DetailFails) path = d.InterfacePath;
      return true;
    }
  }
  return false;
}

DeviceHandle SimVendorUsbDriver::CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                                             std::uint32_t creation, std::uint32_t flags, std::uint32_t& error) {
  std::lock_guard lock(lock_);
  const std::string name = path;
  Note("open " + name + " flags " + Hex(flags));
  if (access != (win::GenericRead | win::GenericWrite) || share != (win::FileShareRead | win::FileShareWrite) ||
      creation != win::OpenExisting || (flags & win::FileFlagOverlapped) != 0) {
    Bad("open " + name);
    error = win::ErrorInvalidParameter;
    return InvalidDeviceHandle;
  }
  const std::string channel = name.size() >= 3 ? name.substr(name.size() - 2) : "";
  if (name.size() < 3 || name[name.size() - 3] != '\\' || (channel != "QX" && channel != "QD")) {
    error = win::ErrorFileNotFound;
    return InvalidDeviceHandle;
  }
  const std::string device = name.substr(0, name.size() - 3);
  for (auto& [number, d] : devices_) {
    char fixed[32];
    std::snprintf(fixed, sizeof fixed, "\\\\.\\QXUSB%03d", number);
    const bool byName = d.FixedNames && device == fixed;
    const bool byInterface = d.HasInterface && device == d.InterfacePath;
    if (!byName && !byInterface) continue;
    if (!d.Present || !d.Link->Reachable()) break;
    Object file;
    file.File = number;
    file.Channel = channel;
    error = win::DeviceOk;
    return AddObject(file);
  }
  error = win::ErrorFileNotFound;
  return InvalidDeviceHandle;
}

VendorDevice* SimVendorUsbDriver::DeviceOf(DeviceHandle handle, std::uint32_t& error, Object** object) {
  Object* o = Find(handle);
  if (!o || o->IsEvent) {
    error = win::ErrorInvalidHandle;
    return nullptr;
  }
  if (object) *object = o;
  VendorDevice& d = devices_.at(o->File);
  if (!d.Present || !d.Link->Reachable()) {
    error = win::ErrorDeviceNotConnected;
    return nullptr;
  }
  error = win::DeviceOk;
  return &d;
}

std::uint32_t SimVendorUsbDriver::ReadFile(DeviceHandle device, void* buffer, std::uint32_t size,
                                           std::uint32_t& count, DeviceOverlapped* overlapped) {
  std::unique_lock lock(lock_);
  count = 0;
  if (overlapped) Bad("overlapped read on a plain handle");
  std::uint32_t error = 0;
  VendorDevice* d = DeviceOf(device, error);
  if (!d) return error;
  d->ReadSizes.push_back(size);
  if (d->NeverAnswerReads) {
    ++waitingCalls_;
    callsReleased_.wait(lock, [&] { return !d->NeverAnswerReads; });
    --waitingCalls_;
    count = static_cast<std::uint32_t>(std::min<std::size_t>(d->LateAnswer.size(), size));
    std::memcpy(buffer, d->LateAnswer.data(), count);
    return win::DeviceOk;
  }
  const sim::Bytes bytes = d->Link->Read(size);
  std::memcpy(buffer, bytes.data(), bytes.size());
  count = static_cast<std::uint32_t>(bytes.size());
  return win::DeviceOk;
}

std::uint32_t SimVendorUsbDriver::WriteFile(DeviceHandle device, const void* data, std::uint32_t size,
                                            std::uint32_t& count, DeviceOverlapped* overlapped) {
  std::unique_lock lock(lock_);
  count = 0;
  if (overlapped) Bad("overlapped write on a plain handle");
  std::uint32_t error = 0;
  Object* object = nullptr;
  VendorDevice* d = DeviceOf(device, error, &object);
  if (!d) return error;
  Note("write " + std::to_string(size));
  ++d->WritesOn[object->Channel];
  const char* bytes = static_cast<const char*>(data);
  if (d->NeverAnswerWrites) {
    ++waitingCalls_;
    callsReleased_.wait(lock, [&] { return !d->NeverAnswerWrites; });
    --waitingCalls_;
  }
  if (d->SemTimeoutWrites > 0) {
    --d->SemTimeoutWrites;
    const std::uint32_t taken = std::min(d->SemTransferred, size);
    d->Link->Write(bytes, taken);
    d->LastTransferred = taken;
    return win::ErrorSemTimeout;
  }
  if (d->FailWrites > 0) {
    --d->FailWrites;
    count = std::min(d->FailTransferred, size);
    d->Link->Write(bytes, count);
    return d->FailError;
  }
  const std::uint32_t taken = d->MaxPerWrite > 0 ? std::min(d->MaxPerWrite, size) : size;
  if (!d->Link->Write(bytes, taken)) return win::ErrorDeviceNotConnected;
  count = taken;
  return win::DeviceOk;
}

std::uint32_t SimVendorUsbDriver::DeviceIoControl(DeviceHandle device, std::uint32_t code, const void* in,
                                                  std::uint32_t inSize, void* out, std::uint32_t outSize,
                                                  std::uint32_t& returned) {
  std::lock_guard lock(lock_);
  returned = 0;
  Object* object = nullptr;
  std::uint32_t error = 0;
  VendorDevice* d = DeviceOf(device, error, &object);
  if (code != vusb::GetStatus) Note("ioctl " + Hex(code) + " in " + std::to_string(inSize) + " out " + std::to_string(outSize));
  if (!d) return error;
  auto sizes = [&](bool ok) {
    if (!ok) Bad("ioctl " + Hex(code) + " in " + std::to_string(inSize) + " out " + std::to_string(outSize));
    return ok;
  };
  const auto* input = static_cast<const std::uint8_t*>(in);
  switch (code) {
    case vusb::GetDriverVersion:
      if (!sizes(inSize == 0 && outSize == 4)) return win::ErrorInvalidParameter;
      PutLe(out, d->DriverVersion, 4);
      returned = 4;
      return win::DeviceOk;
    case vusb::GetTimeouts: {
      if (!sizes(inSize == 0 && outSize == TimeoutBlockSize)) return win::ErrorInvalidParameter;
      std::uint8_t block[TimeoutBlockSize];
      EncodeTimeouts(d->Timeouts, block);
      std::memcpy(out, block, sizeof block);
      returned = TimeoutBlockSize;
      return win::DeviceOk;
    }
    case vusb::SetTimeouts:
      if (!sizes(inSize == TimeoutBlockSize && outSize == 0 && input)) return win::ErrorInvalidParameter;
      if (d->RefuseTimeoutsOn == object->Channel) return win::ErrorGenFailure;
      DecodeTimeouts(input, inSize, d->Timeouts);
      return win::DeviceOk;
    case vusb::GetDeviceDescriptor:
      if (!sizes(inSize == 0 && outSize == 18)) return win::ErrorInvalidParameter;
      returned = static_cast<std::uint32_t>(std::min<std::size_t>(18, d->DeviceDescriptor.size()));
      std::memcpy(out, d->DeviceDescriptor.data(), returned);
      return win::DeviceOk;
    case vusb::GetStringDescriptors:
      if (!sizes(inSize == 0 && outSize >= 1 && outSize <= 1024)) return win::ErrorInvalidParameter;
      if (d->StringsFail) return win::ErrorGenFailure;
      returned = static_cast<std::uint32_t>(std::min<std::size_t>(outSize, d->StringDescriptors.size()));
      std::memcpy(out, d->StringDescriptors.data(), returned);
      return win::DeviceOk;
    case vusb::GetStringDescriptor:
      if (!sizes(inSize == 0 && outSize >= 1 && outSize <= 512)) return win::ErrorInvalidParameter;
      returned = static_cast<std::uint32_t>(std::min<std::size_t>(outSize, d->ExtraString.size()));
      std::memcpy(out, d->ExtraString.data(), returned);
      return win::DeviceOk;
    case vusb::GetDeviceState:
      if (!sizes(inSize == 0 && outSize == 4)) return win::ErrorInvalidParameter;
      PutLe(out, d->DeviceState, 4);
      returned = 4;
      return win::DeviceOk;
    case vusb::GetStatus: {
      if (!sizes(inSize == 0 && (outSize == 2 || outSize == 4))) return win::ErrorInvalidParameter;
      std::uint32_t status = d->Status & ~vusb::StatusHeld;
      if (d->BypassOn) {
        status |= vusb::StatusHeld;
      } else if (d->HeldReads != 0) {
        status |= vusb::StatusHeld;
        if (d->HeldReads > 0) --d->HeldReads;
      }
      PutLe(out, status, outSize);
      returned = outSize;
      return win::DeviceOk;
    }
    case vusb::SetControl: {
      if (!sizes(inSize == 2 && outSize == 0 && input)) return win::ErrorInvalidParameter;
      const std::uint32_t value = input[0] | input[1] << 8;
      if (value != 0x0002 && value != 0x0000) {
        sizes(false);
        return win::ErrorInvalidParameter;
      }
      d->BypassOn = value == 0x0002;
      return win::DeviceOk;
    }
    case vusb::GetTransferred:
      if (!sizes(inSize == 0 && outSize == 4)) return win::ErrorInvalidParameter;
      PutLe(out, d->LastTransferred, 4);
      returned = 4;
      return win::DeviceOk;
    case vusb::DeviceRequest:
      if (!sizes(inSize == 4 && outSize == 4)) return win::ErrorInvalidParameter;
      PutLe(out, 0, 4);
      returned = 4;
      return win::DeviceOk;
    default:
      Bad("unknown ioctl " + Hex(code));
      return ErrorInvalidFunction;
  }
}

std::uint32_t SimVendorUsbDriver::GetOverlappedResult(DeviceHandle, DeviceOverlapped*, std::uint32_t& count, bool) {
  std::lock_guard lock(lock_);
  count = 0;
  Bad("overlapped result on a plain handle");
  return win::ErrorInvalidParameter;
}

std::uint32_t SimVendorUsbDriver::CancelIo(DeviceHandle) {
  std::lock_guard lock(lock_);
  Note("cancel");
  return win::DeviceOk;
}

// --- USB printing driver ------------------------------------------------------------

SimUsbPrintDriver::SimUsbPrintDriver(Clock& time, sim::PrinterEngine& engine)
    : SimulatedDriver(time), engine_(engine) {}

std::string SimUsbPrintDriver::InterfacePathFor(int index) {
  char path[128];
  std::snprintf(path, sizeof path, "\\\\?\\usb#vid_0d4c&pid_4008#prn%03d#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}",
                index);
  return path;
}

int SimUsbPrintDriver::AddPrinter() {
  std::lock_guard lock(lock_);
  UsbPrinter p;
  p.Link = std::make_unique<sim::HostLink>(engine_);
  const int index = static_cast<int>(printers_.size());
  p.InterfacePath = InterfacePathFor(index);
  p.DosNames = {"USB" + std::string(index < 10 ? "00" : "0") + std::to_string(index + 1)};
  printers_.push_back(std::move(p));
  return index;
}

void SimUsbPrintDriver::Change(int index, const std::function<void(UsbPrinter&)>& change) {
  std::lock_guard lock(lock_);
  change(printers_.at(static_cast<std::size_t>(index)));
}

bool SimUsbPrintDriver::FindDeviceInterfacePath(const Guid& interfaceClass, std::uint32_t index, std::string& path) {
  std::lock_guard lock(lock_);
  path.clear();
  if (!(interfaceClass == UsbPrintInterfaceClass)) return false;
  std::uint32_t at = 0;
  for (const UsbPrinter& p : printers_) {
    if (!p.Present) continue;
    if (at++ == index) {
      if (!p.DetailFails) path = p.InterfacePath;
      return true;
    }
  }
  return false;
}

std::uint32_t SimUsbPrintDriver::QueryDosDeviceA(const char* name, char* buffer, std::uint32_t size) {
  {
    std::lock_guard lock(lock_);
    for (const UsbPrinter& p : printers_) {
      if (DosNameOfInterfacePath(p.InterfacePath) != name) continue;
      if (p.DosQueryFails) return 0;
      std::string list;
      for (const auto& n : p.DosNames) list += n + '\0';
      list += '\0';
      if (list.size() > size) return 0;
      std::memcpy(buffer, list.data(), list.size());
      return static_cast<std::uint32_t>(list.size());
    }
  }
  return SimulatedDriver::QueryDosDeviceA(name, buffer, size);
}

DeviceHandle SimUsbPrintDriver::CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                                            std::uint32_t creation, std::uint32_t flags, std::uint32_t& error) {
  std::lock_guard lock(lock_);
  const std::string name = path;
  Note("open " + name + " flags " + Hex(flags));
  if (access != (win::GenericRead | win::GenericWrite) || share != 0 || creation != win::OpenExisting ||
      (flags & win::FileFlagOverlapped) == 0) {
    Bad("open " + name);
    error = win::ErrorInvalidParameter;
    return InvalidDeviceHandle;
  }
  for (std::size_t i = 0; i < printers_.size(); ++i) {
    UsbPrinter& p = printers_[i];
    if (p.InterfacePath != name || !p.Present) continue;
    if (p.Opened) {
      error = win::ErrorAccessDenied;
      return InvalidDeviceHandle;
    }
    p.Opened = true;
    Object file;
    file.File = static_cast<int>(i);
    file.Channel = "PRN";
    file.Overlapped = true;
    error = win::DeviceOk;
    return AddObject(file);
  }
  error = win::ErrorFileNotFound;
  return InvalidDeviceHandle;
}

void SimUsbPrintDriver::OnClose(const Object& object) {
  printers_.at(static_cast<std::size_t>(object.File)).Opened = false;
  for (auto it = operations_.begin(); it != operations_.end();) {
    if (!it->second.Done && Find(it->second.Handle) == nullptr &&
        printers_.at(static_cast<std::size_t>(it->second.Printer)).KeepCancelled) {
      kept_.push_back(it->second);
      it = operations_.erase(it);
    } else if (!it->second.Done && Find(it->second.Handle) == nullptr) {
      Bad("handle closed with an operation in flight");
      it = operations_.erase(it);
    } else {
      ++it;
    }
  }
}

UsbPrinter* SimUsbPrintDriver::PrinterOf(DeviceHandle handle, std::uint32_t& error, Object** object) {
  Object* o = Find(handle);
  if (!o || o->IsEvent) {
    error = win::ErrorInvalidHandle;
    return nullptr;
  }
  if (object) *object = o;
  UsbPrinter& p = printers_.at(static_cast<std::size_t>(o->File));
  if (!p.Present) {
    error = win::ErrorDeviceNotConnected;
    return nullptr;
  }
  error = win::DeviceOk;
  return &p;
}

void SimUsbPrintDriver::Complete(Operation& op) {
  UsbPrinter& p = printers_.at(static_cast<std::size_t>(op.Printer));
  if (op.IsRead) {
    const sim::Bytes bytes = p.Link->Read(op.Size);
    std::memcpy(op.Buffer, bytes.data(), bytes.size());
    op.Count = static_cast<std::uint32_t>(bytes.size());
  } else {
    p.Link->Write(op.Data);
    op.Count = static_cast<std::uint32_t>(op.Data.size());
    p.LastTaken = op.Count;
  }
  op.Done = true;
  op.Error = win::DeviceOk;
}

std::uint32_t SimUsbPrintDriver::WriteFile(DeviceHandle device, const void* data, std::uint32_t size,
                                           std::uint32_t& count, DeviceOverlapped* overlapped) {
  std::lock_guard lock(lock_);
  count = 0;
  std::uint32_t error = 0;
  UsbPrinter* p = PrinterOf(device, error);
  Note("write " + std::to_string(size));
  if (!p) return error;
  if (!overlapped) {
    Bad("plain write on an overlapped handle");
    return win::ErrorInvalidParameter;
  }
  auto existing = operations_.find(overlapped);
  if (existing != operations_.end() && !existing->second.Done) Bad("write on a record still in flight");
  Operation op;
  op.Handle = device;
  op.Printer = static_cast<int>(p - printers_.data());
  op.Data.assign(static_cast<const char*>(data), size);
  if (p->StallWrites > 0) {
    --p->StallWrites;
    op.Stalled = true;
  } else if (p->WritePolls > 0) {
    op.PollsLeft = p->WritePolls;
  } else {
    Complete(op);
    count = op.Count;
    operations_[overlapped] = op;
    return win::DeviceOk;
  }
  operations_[overlapped] = op;
  return win::ErrorIoPending;
}

std::uint32_t SimUsbPrintDriver::ReadFile(DeviceHandle device, void* buffer, std::uint32_t size,
                                          std::uint32_t& count, DeviceOverlapped* overlapped) {
  std::lock_guard lock(lock_);
  count = 0;
  std::uint32_t error = 0;
  UsbPrinter* p = PrinterOf(device, error);
  Note("read " + std::to_string(size));
  if (!p) return error;
  if (!overlapped) {
    Bad("plain read on an overlapped handle");
    return win::ErrorInvalidParameter;
  }
  if (size % usbprint::ReadUnit != 0) Bad("read of " + std::to_string(size) + " bytes, not whole units");
  auto existing = operations_.find(overlapped);
  if (existing != operations_.end() && !existing->second.Done) Bad("read on a record still in flight");
  p->ReadSizes.push_back(size);
  Operation op;
  op.Handle = device;
  op.Printer = static_cast<int>(p - printers_.data());
  op.IsRead = true;
  op.Buffer = buffer;
  op.Size = size;
  op.PollsLeft = p->ReadPolls;
  operations_[overlapped] = op;
  return win::ErrorIoPending;
}

std::uint32_t SimUsbPrintDriver::GetOverlappedResult(DeviceHandle device, DeviceOverlapped* overlapped,
                                                     std::uint32_t& count, bool wait) {
  std::lock_guard lock(lock_);
  count = 0;
  auto it = operations_.find(overlapped);
  if (it == operations_.end() || it->second.Handle != device) {
    Bad("overlapped result of an unknown record");
    return win::ErrorInvalidParameter;
  }
  Operation& op = it->second;
  if (!op.Done && !op.Stalled) {
    if (op.PollsLeft > 0) {
      --op.PollsLeft;
    } else if (!op.IsRead || printers_.at(static_cast<std::size_t>(op.Printer)).Link->MillisecondsUntilOutput() == 0) {
      Complete(op);
    }
  }
  if (!op.Done) {
    // Nothing here would ever complete a wait: a waiting caller would hang.
    if (wait) Bad("wait on an operation that does not end");
    return win::ErrorIoIncomplete;
  }
  count = op.Count;
  return op.Error;
}

int SimUsbPrintDriver::CompleteKept() {
  std::lock_guard lock(lock_);
  const int n = static_cast<int>(kept_.size());
  for (Operation& op : kept_) {
    if (op.IsRead) std::memset(op.Buffer, 0x5A, op.Size);
  }
  kept_.clear();
  return n;
}

std::uint32_t SimUsbPrintDriver::CancelIo(DeviceHandle device) {
  std::lock_guard lock(lock_);
  Note("cancel");
  for (auto& [record, op] : operations_) {
    if (op.Handle != device || op.Done) continue;
    if (printers_.at(static_cast<std::size_t>(op.Printer)).KeepCancelled) continue;
    op.Done = true;
    op.Count = 0;
    op.Error = win::ErrorOperationAborted;
  }
  return win::DeviceOk;
}

std::uint32_t SimUsbPrintDriver::DeviceIoControl(DeviceHandle device, std::uint32_t code, const void* in,
                                                 std::uint32_t inSize, void* out, std::uint32_t outSize,
                                                 std::uint32_t& returned) {
  std::lock_guard lock(lock_);
  returned = 0;
  std::uint32_t error = 0;
  UsbPrinter* p = PrinterOf(device, error);
  const auto* input = static_cast<const std::uint8_t*>(in);
  const bool request = inSize == 3 && input && input[1] == 0 && input[2] == 0;
  if (code == usbprint::VendorSetCommand) {
    Note("set " + (input && inSize >= 1 ? Hex2(input[0]) : std::string("?")));
    if (!p) return error;
    if (!request || outSize != 0) {
      Bad("vendor set with in " + std::to_string(inSize) + " out " + std::to_string(outSize));
      return win::ErrorInvalidParameter;
    }
    switch (input[0]) {
      case usbprint::ReqWriteBegin:
        if (p->RefuseBegin) return win::ErrorGenFailure;
        p->LastTaken = 0;
        return win::DeviceOk;
      case usbprint::ReqWriteTimeout:
      case usbprint::ReqDevice:
        return win::DeviceOk;
      case usbprint::ReqWriteReset:
        p->LastTaken = 0;
        return win::DeviceOk;
      default:
        Bad("unknown vendor set " + Hex2(input[0]));
        return win::ErrorInvalidParameter;
    }
  }
  if (code == usbprint::VendorGetCommand) {
    Note("get " + (input && inSize >= 1 ? Hex2(input[0]) : std::string("?")));
    if (!p) return error;
    if (!request || outSize != 4 || input[0] != usbprint::ReqGetCount) {
      Bad("vendor get with in " + std::to_string(inSize) + " out " + std::to_string(outSize));
      return win::ErrorInvalidParameter;
    }
    PutLe(out, p->CountAnswer.value_or(p->LastTaken), 4);
    returned = 4;
    return win::DeviceOk;
  }
  Bad("unknown ioctl " + Hex(code));
  return ErrorInvalidFunction;
}

}  // namespace qx::test
