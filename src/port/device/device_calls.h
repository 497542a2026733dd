#pragma once

// The device seam of the two USB kinds: every call they make to a device, to SetupAPI,
// to the DOS-device table and to the tick clock goes through one DeviceCalls object.
// The program binds it to kernel32 (Kernel32DeviceCalls, Windows only); tests bind it
// to simulated drivers. The types mirror their Win32 counterparts so that the binding
// is a straight pass-through.
//
// Every call that can fail returns its error code at once (DeviceOk = 0 for success),
// so that no thread ever reads another thread's last error.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/clock.h"

namespace qx {

// HANDLE.
using DeviceHandle = void*;
inline DeviceHandle const InvalidDeviceHandle = reinterpret_cast<DeviceHandle>(static_cast<std::intptr_t>(-1));
inline bool IsValidHandle(DeviceHandle h) { return h != nullptr && h != InvalidDeviceHandle; }

#ifdef _WIN32
using DeviceOverlapped = OVERLAPPED;
#else
// OVERLAPPED, field for field.
struct DeviceOverlapped {
  std::uintptr_t Internal = 0;
  std::uintptr_t InternalHigh = 0;
  std::uint32_t Offset = 0;
  std::uint32_t OffsetHigh = 0;
  DeviceHandle hEvent = nullptr;
};
#endif

// GUID, same layout.
struct Guid {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
  bool operator==(const Guid&) const = default;
};

// {5DD901C0-BCF4-11D1-9738-008029E6A5B3}: the vendor driver's device interface class.
inline constexpr Guid VendorUsbInterfaceClass = {0x5DD901C0, 0xBCF4, 0x11D1,
                                                 {0x97, 0x38, 0x00, 0x80, 0x29, 0xE6, 0xA5, 0xB3}};
// {28D78FAD-5A12-11D1-AE5B-0000F803A8C2}: GUID_DEVINTERFACE_USBPRINT.
inline constexpr Guid UsbPrintInterfaceClass = {0x28D78FAD, 0x5A12, 0x11D1,
                                                {0xAE, 0x5B, 0x00, 0x00, 0xF8, 0x03, 0xA8, 0xC2}};

// Win32 values the kinds use.
namespace win {
inline constexpr std::uint32_t DeviceOk = 0;
inline constexpr std::uint32_t ErrorFileNotFound = 2;
inline constexpr std::uint32_t ErrorAccessDenied = 5;
inline constexpr std::uint32_t ErrorInvalidHandle = 6;
inline constexpr std::uint32_t ErrorGenFailure = 31;
inline constexpr std::uint32_t ErrorInvalidParameter = 87;
inline constexpr std::uint32_t ErrorSemTimeout = 121;
inline constexpr std::uint32_t ErrorNoMoreItems = 259;
inline constexpr std::uint32_t ErrorOperationAborted = 995;
inline constexpr std::uint32_t ErrorIoIncomplete = 996;
inline constexpr std::uint32_t ErrorIoPending = 997;
inline constexpr std::uint32_t ErrorDeviceNotConnected = 1167;

inline constexpr std::uint32_t GenericRead = 0x80000000u;
inline constexpr std::uint32_t GenericWrite = 0x40000000u;
inline constexpr std::uint32_t FileShareRead = 1;
inline constexpr std::uint32_t FileShareWrite = 2;
inline constexpr std::uint32_t OpenExisting = 3;
inline constexpr std::uint32_t FileAttributeNormal = 0x80;
inline constexpr std::uint32_t FileFlagOverlapped = 0x40000000u;
}  // namespace win

class DeviceCalls {
 public:
  virtual ~DeviceCalls() = default;

  // CreateFileA without security attributes or template. InvalidDeviceHandle on
  // failure, with the reason in `error`.
  virtual DeviceHandle CreateFileA(const char* path, std::uint32_t access, std::uint32_t share,
                                   std::uint32_t creation, std::uint32_t flags, std::uint32_t& error) = 0;
  // ReadFile / WriteFile; `overlapped` null for a plain handle. `count` receives the
  // bytes moved (0 while an overlapped operation is pending).
  virtual std::uint32_t ReadFile(DeviceHandle device, void* buffer, std::uint32_t size, std::uint32_t& count,
                                 DeviceOverlapped* overlapped) = 0;
  virtual std::uint32_t WriteFile(DeviceHandle device, const void* data, std::uint32_t size, std::uint32_t& count,
                                  DeviceOverlapped* overlapped) = 0;
  // A synchronous DeviceIoControl.
  virtual std::uint32_t DeviceIoControl(DeviceHandle device, std::uint32_t code, const void* in,
                                        std::uint32_t inSize, void* out, std::uint32_t outSize,
                                        std::uint32_t& returned) = 0;
  virtual std::uint32_t GetOverlappedResult(DeviceHandle device, DeviceOverlapped* overlapped,
                                            std::uint32_t& count, bool wait) = 0;
  // CreateEventA without security attributes or name; null on failure.
  virtual DeviceHandle CreateEventA(bool manualReset, bool initialState) = 0;
  virtual bool CloseHandle(DeviceHandle handle) = 0;
  // CancelIo: every operation this thread started on the handle.
  virtual std::uint32_t CancelIo(DeviceHandle device) = 0;

  // The device interface path of the index-th present interface of a class, through
  // SetupAPI loaded for this one lookup. False when there is no such interface; true
  // with an empty path when the interface exists but its details could not be read.
  virtual bool FindDeviceInterfacePath(const Guid& interfaceClass, std::uint32_t index, std::string& path) = 0;
  // QueryDosDeviceA: characters stored (the NUL-separated list with its final NUL), 0 on failure.
  virtual std::uint32_t QueryDosDeviceA(const char* name, char* buffer, std::uint32_t size) = 0;

  // GetTickCount and Sleep, so that the kinds' time limits run on a test's clock.
  virtual std::uint32_t TickCount() = 0;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// The seam's tick count and Sleep as a Clock (ticks wrap after 2^32 ms).
class SeamClock final : public Clock {
 public:
  explicit SeamClock(DeviceCalls& calls) : calls_(calls) {}
  std::int64_t NowMilliseconds() const override { return calls_.TickCount(); }
  void SleepMilliseconds(int ms) override { calls_.Sleep(static_cast<std::uint32_t>(ms > 0 ? ms : 0)); }

 private:
  DeviceCalls& calls_;
};

// Owns one handle made through a DeviceCalls object and closes it through the same
// object, once.
class SeamHandle {
 public:
  SeamHandle() = default;
  SeamHandle(DeviceCalls& calls, DeviceHandle handle) : calls_(&calls), handle_(handle) {}
  SeamHandle(const SeamHandle&) = delete;
  SeamHandle& operator=(const SeamHandle&) = delete;
  SeamHandle(SeamHandle&& other) noexcept
      : calls_(other.calls_), handle_(std::exchange(other.handle_, InvalidDeviceHandle)) {}
  SeamHandle& operator=(SeamHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      calls_ = other.calls_;
      handle_ = std::exchange(other.handle_, InvalidDeviceHandle);
    }
    return *this;
  }
  ~SeamHandle() { Reset(); }

  bool Valid() const { return IsValidHandle(handle_); }
  DeviceHandle Get() const { return handle_; }
  void Reset() {
    if (Valid() && calls_) calls_->CloseHandle(handle_);
    handle_ = InvalidDeviceHandle;
  }

 private:
  DeviceCalls* calls_ = nullptr;
  DeviceHandle handle_ = InvalidDeviceHandle;
};

#ifdef _WIN32
// The production binding: kernel32, and SETUPAPI.DLL loaded at run time.
DeviceCalls& Kernel32DeviceCalls();
// SetupAPI's side of it, also usable on its own.
bool FindDeviceInterfacePath(const Guid& interfaceClass, std::uint32_t index, std::string& path);
// The member indexes 0..126 of one interface class whose details could be read, up to
// the first index the class no longer has; with `paths`, their device paths alongside.
// The port list at start, the Add Port dialog and qxmodel list from this.
std::vector<int> PresentInterfaces(const Guid& interfaceClass, std::vector<std::string>* paths = nullptr);
#endif

}  // namespace qx
