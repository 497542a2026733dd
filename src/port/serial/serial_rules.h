#pragma once

// The serial kind's rules that need no Windows: the settings code tables and the
// device-name choice around a spooler-redirected DOS name, which the parallel kind
// shares.

#include <cstdint>
#include <string>
#include <vector>

#include "port/device/device_info.h"
#include "port/device/dos_devices.h"

namespace qx {

// --- Settings codes -----------------------------------------------------------------

std::uint32_t BaudRateForCode(int baudCode);
// 0 none, 1 odd, 2 even, 3 mark, 4 space (the Win32 parity values).
std::uint8_t ParityForCode(int parityCode);
// 0 one, 1 one and a half, 2 two stop bits (the Win32 values).
std::uint8_t StopBitsForCode(int stopBitsCode);

// The handshake members of a DCB, with the Win32 values of the DTR and RTS controls.
inline constexpr unsigned DtrControlEnable = 1;
inline constexpr unsigned DtrControlHandshake = 2;
inline constexpr unsigned RtsControlDisable = 0;
inline constexpr unsigned RtsControlEnable = 1;
inline constexpr unsigned RtsControlHandshake = 2;

struct Handshake {
  unsigned OutxCtsFlow = 0;
  unsigned OutxDsrFlow = 0;
  unsigned OutX = 0;
  unsigned InX = 0;
  unsigned DtrControl = 0;
  unsigned RtsControl = 0;
  bool operator==(const Handshake&) const = default;
};

// Sets the handshake for FlowControl codes 0 to 6 and returns true; any other code
// leaves `handshake` as it was and returns false.
bool HandshakeForCode(int flowControl, Handshake& handshake);

// --- DOS device names ---------------------------------------------------------------

inline constexpr unsigned DddRawTargetPath = 1;
inline constexpr unsigned DddRemoveDefinition = 2;
inline constexpr std::uint32_t TargetListBufferSize = 4160;
inline constexpr char SpoolerPipePrefix[] = "\\Device\\NamedPipe\\Spooler\\";

// Splits a NUL-separated target list, looking only at the first `stored` bytes of a
// buffer of `size` (a count beyond the buffer is cut to it). An empty entry ends the list.
std::vector<std::string> SplitTargetList(const char* buffer, std::uint32_t stored, std::uint32_t size);

// The path to open for DOS device `dosName` ("COM3", "LPT1"). When the name is
// redirected to the spooler's pipe, the first target that is not the pipe is given the
// private name `privateName` ("ComPortName") and "\\.\<privateName>" is returned.
// Every failed step falls back to "\\.\<dosName>"; so does a definition that does not
// show up afterwards (some systems accept the call and keep nothing).
std::string ChooseDevicePath(const std::string& dosName, const char* privateName, bool ntFamily,
                             DosDeviceFunctions& functions);

}  // namespace qx
