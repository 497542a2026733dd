#include "port/device/device_info.h"

#include <algorithm>
#include <cstdio>

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

}  // namespace qx
