#pragma once

// The vendor driver's controls, which the serial and vendor USB kinds both send, and
// the device-information record that they fill from them.

#include <cstdint>
#include <functional>
#include <string>

namespace qx {

// Vendor driver controls (FILE_DEVICE_UNKNOWN, METHOD_BUFFERED, any access).
namespace vusb {
inline constexpr std::uint32_t GetDriverVersion = 0x222000;
inline constexpr std::uint32_t GetTimeouts = 0x22200C;
inline constexpr std::uint32_t SetTimeouts = 0x222010;
inline constexpr std::uint32_t GetDeviceDescriptor = 0x222040;
inline constexpr std::uint32_t GetStringDescriptors = 0x222048;
inline constexpr std::uint32_t GetDeviceState = 0x2220C0;
inline constexpr std::uint32_t GetStatus = 0x2220C4;
inline constexpr std::uint32_t SetControl = 0x2220C8;
inline constexpr std::uint32_t GetStringDescriptor = 0x2220CC;
inline constexpr std::uint32_t GetTransferred = 0x222100;
inline constexpr std::uint32_t DeviceRequest = 0x2221FC;

// Low byte of the status word.
inline constexpr std::uint32_t StatusBusy = 0x01;
inline constexpr std::uint32_t StatusHeld = 0x02;
}  // namespace vusb

// The device-information record that the serial and vendor USB kinds fill.
struct DeviceInfo {
  std::string DeviceVersion;
  std::string DriverVersion;
  std::string SecondString;
  std::string ThirdString;
  std::string ExtraString;
  int StatusFlag = 0;
  int StatusCode = 0;
};

// "%X.%02X" of a high and a low byte.
std::string VersionText(unsigned high, unsigned low);
// The device release number at offset 12 of a USB device descriptor; empty when the
// reply is too short to hold it.
std::string DeviceVersionFromDescriptor(const unsigned char* bytes, std::uint32_t returned);
// Of a run of string descriptors: skip the first, drop the second, and give the third
// and fourth as `second` and `third`. Parsing stays within `returned` bytes.
void StringsFromDescriptorRun(const unsigned char* bytes, std::uint32_t returned, std::string& second,
                              std::string& third);
// One string descriptor: the low bytes of its code units after the header.
std::string StringFromDescriptor(const unsigned char* bytes, std::uint32_t returned);
// StatusFlag and StatusCode from the device-state word.
void StatusFromDeviceState(std::uint32_t state, int& statusFlag, int& statusCode);

// One buffered control with no input: true when it succeeded, with `returned` bytes
// stored in `out`.
using DeviceControl = std::function<bool(std::uint32_t code, void* out, std::uint32_t outSize, std::uint32_t& returned)>;
using DeviceStateRule = void (*)(std::uint32_t state, int& statusFlag, int& statusCode);

// GetDeviceInfo of the serial and vendor USB kinds: clears the texts and StatusFlag,
// then (when `open`) runs the five queries in order, reading the string-descriptor run
// into `stringsSize` bytes and the state word through `stateRule`.
void QueryDeviceInfo(DeviceInfo& record, bool open, const DeviceControl& control, std::uint32_t stringsSize,
                     DeviceStateRule stateRule);

}  // namespace qx
