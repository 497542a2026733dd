#include "port/device/device_info.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace qx {

std::string VersionText(unsigned high, unsigned low) {
  char text[32];
  std::snprintf(text, sizeof text, "%X.%02X", high, low);
  return text;
}

std::string DeviceVersionFromDescriptor(const unsigned char* bytes, std::uint32_t returned) {
  if (returned < 14) return {};
  return VersionText(bytes[13], bytes[12]);
}

std::string StringFromDescriptor(const unsigned char* bytes, std::uint32_t returned) {
  if (returned < 2) return {};
  const std::uint32_t length = std::min<std::uint32_t>(bytes[0], returned);
  std::string text;
  for (std::uint32_t at = 2; at + 2 <= length; at += 2) text.push_back(static_cast<char>(bytes[at]));
  return text;
}

void StringsFromDescriptorRun(const unsigned char* bytes, std::uint32_t returned, std::string& second,
                              std::string& third) {
  std::uint32_t at = 0;
  for (int index = 0; index < 4; ++index) {
    if (at + 2 > returned) return;
    const std::uint32_t length = bytes[at];
    if (length < 2 || at + length > returned) return;
    if (index == 2) second = StringFromDescriptor(bytes + at, length);
    if (index == 3) third = StringFromDescriptor(bytes + at, length);
    at += length;
  }
}

void StatusFromDeviceState(std::uint32_t s, int& statusFlag, int& statusCode) {
  statusFlag = (s & 0x02) ? 1 : 0;
  const bool b4 = s & 0x04, b8 = s & 0x08, b10 = s & 0x10;
  if (b4 && !b8) statusCode = 1;
  else if (b8 && !b4) statusCode = 2;
  else if (b10 && !b8 && !b4) statusCode = 3;
  else statusCode = 0;
}

namespace {

std::uint32_t LittleEndian(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

void QueryDeviceInfo(DeviceInfo& record, bool open, const DeviceControl& control, std::uint32_t stringsSize,
                     DeviceStateRule stateRule) {
  record.DeviceVersion.clear();
  record.DriverVersion.clear();
  record.SecondString.clear();
  record.ThirdString.clear();
  record.ExtraString.clear();
  record.StatusFlag = 0;
  if (!open) return;
  std::uint32_t returned = 0;

  unsigned char descriptor[18] = {};
  if (control(vusb::GetDeviceDescriptor, descriptor, sizeof descriptor, returned)) {
    record.DeviceVersion = DeviceVersionFromDescriptor(descriptor, std::min<std::uint32_t>(returned, sizeof descriptor));
  }
  std::uint8_t version[4] = {};
  if (control(vusb::GetDriverVersion, version, sizeof version, returned) && returned >= sizeof version) {
    const std::uint32_t v = LittleEndian(version);
    record.DriverVersion = VersionText(v >> 8, v & 0xFF);
  }
  std::vector<unsigned char> strings(stringsSize);
  if (control(vusb::GetStringDescriptors, strings.data(), stringsSize, returned)) {
    StringsFromDescriptorRun(strings.data(), std::min(returned, stringsSize), record.SecondString, record.ThirdString);
    unsigned char extra[512] = {};
    if (control(vusb::GetStringDescriptor, extra, sizeof extra, returned)) {
      record.ExtraString = StringFromDescriptor(extra, std::min<std::uint32_t>(returned, sizeof extra));
    }
  }
  std::uint8_t state[4] = {};
  if (control(vusb::GetDeviceState, state, sizeof state, returned) && returned >= 1) {
    stateRule(LittleEndian(state), record.StatusFlag, record.StatusCode);
  }
}

}  // namespace qx
