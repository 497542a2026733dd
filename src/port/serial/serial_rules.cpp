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

}  // namespace qx
