#pragma once

// The device-information record of the serial and vendor USB kinds and the parsing of
// the vendor driver's replies that fill it.

#include <cstdint>
#include <string>

namespace qx {

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

}  // namespace qx
