#include "port/serial/serial_rules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace qx {

std::uint32_t BaudRateForCode(int baudCode) {
  static constexpr std::uint32_t rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  if (baudCode < 0 || baudCode >= static_cast<int>(std::size(rates))) return 19200;
  return rates[baudCode];
}

std::uint8_t ParityForCode(int parityCode) {
  return parityCode >= 1 && parityCode <= 4 ? static_cast<std::uint8_t>(parityCode) : 0;
}

std::uint8_t StopBitsForCode(int stopBitsCode) {
  return stopBitsCode == 1 || stopBitsCode == 2 ? static_cast<std::uint8_t>(stopBitsCode) : 0;
}

bool HandshakeForCode(int flowControl, Handshake& h) {
  constexpr unsigned DE = DtrControlEnable, DH = DtrControlHandshake;
  constexpr unsigned RE = RtsControlEnable, RH = RtsControlHandshake;
  // cts, dsr, xon/xoff, dtr, rts
  static constexpr unsigned table[7][5] = {
      {0, 1, 0, DH, RE}, {0, 0, 0, DE, RE}, {1, 0, 0, DE, RH}, {0, 0, 1, DE, RE},
      {0, 1, 1, DH, RE}, {1, 1, 0, DH, RH}, {1, 0, 1, DE, RH},
  };
  if (flowControl < 0 || flowControl > 6) return false;
  const unsigned* row = table[flowControl];
  h.OutxCtsFlow = row[0];
  h.OutxDsrFlow = row[1];
  h.OutX = row[2];
  h.InX = row[2];
  h.DtrControl = row[3];
  h.RtsControl = row[4];
  return true;
}

std::vector<std::string> SplitTargetList(const char* buffer, std::uint32_t stored, std::uint32_t size) {
  std::vector<std::string> targets;
  const std::uint32_t end = std::min(stored, size);
  std::uint32_t at = 0;
  while (at < end) {
    const char* start = buffer + at;
    const void* nul = std::memchr(start, '\0', end - at);
    const std::uint32_t length =
        nul ? static_cast<std::uint32_t>(static_cast<const char*>(nul) - start) : end - at;
    if (length == 0) break;
    targets.emplace_back(start, length);
    at += length + 1;
  }
  return targets;
}

std::string ChooseDevicePath(const std::string& dosName, const char* privateName, bool ntFamily,
                             DosDeviceFunctions& functions) {
  const std::string plain = "\\\\.\\" + dosName;
  if (!ntFamily) return plain;
  functions.Define(DddRemoveDefinition, privateName, nullptr);

  std::vector<char> buffer(TargetListBufferSize, '\0');
  const std::uint32_t stored = functions.Query(dosName.c_str(), buffer.data(), TargetListBufferSize);
  if (stored == 0) return plain;
  constexpr std::size_t prefixLength = sizeof SpoolerPipePrefix - 1;  // 26
  std::string device;
  for (const std::string& target : SplitTargetList(buffer.data(), stored, TargetListBufferSize)) {
    if (target.compare(0, prefixLength, SpoolerPipePrefix) != 0) {
      device = target;
      break;
    }
  }
  if (device.empty()) return plain;
  if (!functions.Define(DddRawTargetPath, privateName, device.c_str())) return plain;

  // Only a name that now resolves to the device is worth opening.
  std::fill(buffer.begin(), buffer.end(), '\0');
  const std::uint32_t check = functions.Query(privateName, buffer.data(), TargetListBufferSize);
  const auto defined = SplitTargetList(buffer.data(), check, TargetListBufferSize);
  if (defined.empty() || defined.front() != device) {
    functions.Define(DddRemoveDefinition, privateName, nullptr);
    return plain;
  }
  return std::string("\\\\.\\") + privateName;
}

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
