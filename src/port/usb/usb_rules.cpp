#include "port/usb/usb_rules.h"

#include <cstdio>

namespace qx {

namespace {

void PutLe32(std::uint8_t* at, std::uint32_t v) {
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
  at[2] = static_cast<std::uint8_t>(v >> 16);
  at[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint32_t GetLe32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

}  // namespace

std::string FixedChannelName(int deviceNumber, const char* channel) {
  char name[64];
  std::snprintf(name, sizeof name, "\\\\.\\QXUSB%03d\\%s", deviceNumber, channel);
  return name;
}

std::string InterfaceChannelName(const std::string& interfacePath, const char* channel) {
  if (interfacePath.empty()) return {};
  return interfacePath + "\\" + channel;
}

int VendorDeviceNumber(std::int32_t deviceNumber) {
  return static_cast<std::uint32_t>(deviceNumber) > 999 ? 0 : deviceNumber;
}

int QdSelected(std::int32_t channel) { return channel == 1 ? 1 : 0; }

int ChannelModeFor(std::int32_t channel) {
  if (channel == 0) return 1;
  if (channel == 1) return 2;
  return 0;
}

void EncodeTimeouts(const DriverTimeouts& t, std::uint8_t (&block)[TimeoutBlockSize]) {
  PutLe32(block + 0, t.ReadMultiplier);
  PutLe32(block + 4, t.ReadConstant);
  PutLe32(block + 8, t.WriteMultiplier);
  PutLe32(block + 12, t.WriteConstant);
}

bool DecodeTimeouts(const std::uint8_t* block, std::uint32_t returned, DriverTimeouts& t) {
  if (returned < TimeoutBlockSize) return false;
  t.ReadMultiplier = GetLe32(block + 0);
  t.ReadConstant = GetLe32(block + 4);
  t.WriteMultiplier = GetLe32(block + 8);
  t.WriteConstant = GetLe32(block + 12);
  return true;
}

std::uint32_t WriteTimeLimit(std::uint32_t length, std::uint32_t multiplier, std::uint32_t constant) {
  return length * multiplier + constant;
}

std::uint32_t SendRetryLimit(std::uint32_t piece, const DriverTimeouts& t) {
  return (t.WriteMultiplier * piece + t.WriteConstant + 9) / 10;
}

void UsbStatusFromDeviceState(std::uint32_t state, int& statusFlag, int& statusCode) {
  statusFlag = (state & 0x02) ? 1 : 0;
  switch (state & 0x3C) {
    case 0x04:
      statusCode = 1;
      break;
    case 0x08:
      statusCode = 2;
      break;
    case 0x10:
      statusCode = 3;
      break;
    case 0x24:
      statusCode = 4;
      break;
    default:
      statusCode = 0;
  }
}

std::string UsbListingLine(int index, const char* dosName) {
  char line[64];
  std::snprintf(line, sizeof line, "  USB Port          USB%03d", index);
  std::string text = line;
  if (dosName) {
    text += "          ";
    text += dosName;
  }
  text += "\n";
  return text;
}

std::string DosNameOfInterfacePath(const std::string& interfacePath) {
  return interfacePath.size() < 4 ? std::string() : interfacePath.substr(4);
}

std::uint32_t PrinterReadRequest(int length) {
  if (length < usbprint::ReadUnit) return usbprint::ReadUnit;
  return static_cast<std::uint32_t>(length) / usbprint::ReadUnit * usbprint::ReadUnit;
}

}  // namespace qx
