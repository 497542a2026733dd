#pragma once

// The USB kinds' rules that need no device: names, channel selection, the driver's
// time-out block, the write time limits, the device-state table and the listing lines.

#include <cstdint>
#include <string>

#include "port/device/device_info.h"

namespace qx {

// The USB printing driver's two vendor controls and the request codes the printer takes.
namespace usbprint {
inline constexpr std::uint32_t VendorSetCommand = 0x220038;
inline constexpr std::uint32_t VendorGetCommand = 0x22003C;

inline constexpr std::uint8_t ReqWriteBegin = 0x11;
inline constexpr std::uint8_t ReqGetCount = 0x12;
inline constexpr std::uint8_t ReqWriteTimeout = 0x20;
inline constexpr std::uint8_t ReqWriteReset = 0x21;
inline constexpr std::uint8_t ReqDevice = 0x7F;

// Reads go to the device in whole units of this size.
inline constexpr int ReadUnit = 512;
}  // namespace usbprint

// "\\.\QXUSB%03d\QX" for a channel name "QX" or "QD".
std::string FixedChannelName(int deviceNumber, const char* channel);
// "%s\QX" on an interface path; empty when the path is empty.
std::string InterfaceChannelName(const std::string& interfacePath, const char* channel);
// The settings' DeviceNumber, or 0 when it is above 999 as an unsigned number.
int VendorDeviceNumber(std::int32_t deviceNumber);
// UseQdChannel from the settings' Channel: 1 for 1, 0 for anything else.
int QdSelected(std::int32_t channel);
// Which channels Open opens: Channel 0 -> 1 (QX only), 1 -> 2 (QD only), else 0 (both).
int ChannelModeFor(std::int32_t channel);
inline bool ModeOpensQx(int mode) { return mode == 0 || mode == 1; }
inline bool ModeOpensQd(int mode) { return mode == 0 || mode == 2; }

// The 16-byte time-out block the vendor driver takes and gives, little-endian.
struct DriverTimeouts {
  std::uint32_t ReadMultiplier = 5;
  std::uint32_t ReadConstant = 50;
  std::uint32_t WriteMultiplier = 5;
  std::uint32_t WriteConstant = 2000;
  bool operator==(const DriverTimeouts&) const = default;
};
inline constexpr std::uint32_t TimeoutBlockSize = 16;
void EncodeTimeouts(const DriverTimeouts& timeouts, std::uint8_t (&block)[TimeoutBlockSize]);
// False when fewer than 16 bytes came back.
bool DecodeTimeouts(const std::uint8_t* block, std::uint32_t returned, DriverTimeouts& timeouts);

// length x multiplier + constant, in unsigned 32-bit milliseconds.
std::uint32_t WriteTimeLimit(std::uint32_t length, std::uint32_t multiplier, std::uint32_t constant);
// The send worker's retry limit: the write time-out of one piece in 10 ms steps,
// rounded up (unsigned 32-bit).
std::uint32_t SendRetryLimit(std::uint32_t piece, const DriverTimeouts& timeouts);
// Milliseconds between two tick counts, across the 2^32 wrap.
inline std::uint32_t TicksSince(std::uint32_t start, std::uint32_t now) { return now - start; }

// StatusFlag and the five-valued StatusCode of the vendor driver from its device-state
// word. The caller keeps StatusCode as it was when the query failed.
void UsbStatusFromDeviceState(std::uint32_t state, int& statusFlag, int& statusCode);

// A line of the printer-class listing: "  USB Port          USB%03d\n", or with the
// DOS name "  USB Port          USB%03d          %s\n".
std::string UsbListingLine(int index, const char* dosName = nullptr);
// The DOS name QueryDosDeviceA is asked for: the interface path without its first four
// characters ("\\?\"); empty when the path is shorter.
std::string DosNameOfInterfacePath(const std::string& interfacePath);

// The size a read of `length` bytes asks the USB printing driver for: one unit below
// a unit, else length rounded down to whole units.
std::uint32_t PrinterReadRequest(int length);

}  // namespace qx
