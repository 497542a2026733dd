#pragma once

// The serial kind's rules that need no Windows: the settings code tables, the
// device-name choice around a spooler-redirected DOS name, and the parsing of the
// vendor driver's device-information replies. The parallel kind shares the name choice.

#include <cstdint>
#include <string>
#include <vector>

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

// The two DOS-device functions, as a seam: the program binds them to KERNEL32's
// DefineDosDeviceA and QueryDosDeviceA, tests to a fake.
class DosDeviceFunctions {
 public:
  virtual ~DosDeviceFunctions() = default;
  // DefineDosDeviceA; `target` may be null. False when the call failed.
  virtual bool Define(unsigned flags, const char* name, const char* target) = 0;
  // QueryDosDeviceA: the characters stored into `buffer` (the NUL-separated target
  // list with its final NUL), 0 on failure.
  virtual std::uint32_t Query(const char* name, char* buffer, std::uint32_t size) = 0;
};

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

// --- Vendor device information --------------------------------------------------------

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
