#pragma once

// The port-service kind's rules that need no Windows: the port names and URLs it hands
// to the service's client library, the remote/local rule, the walk over the service's
// port list, the send time-out, the lines of the diagnostic listing, and where the
// library is looked for when the normal DLL search does not find it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qx {

// Wide text as the library takes and gives it (UTF-16).
using WideText = std::u16string;

inline constexpr std::size_t MaxServicePortNameLength = 31;
inline constexpr std::size_t MaxRemoteAddressLength = 63;
inline constexpr std::size_t MaxOpenUrlLength = 63;
// Size of the answers of the list and property controls.
inline constexpr std::size_t ServiceAnswerBytes = 1024;
// The input area of the list control (handed over with length 0).
inline constexpr std::size_t ListInputBytes = 512;
inline constexpr std::uint32_t ServiceLockTimeoutMs = 2000;
inline constexpr std::uint32_t OpenOptionValue = 2;

WideText Widen(const std::string& ascii);
// As "%S" prints wide text: characters outside ASCII become '?'.
std::string Narrow(const WideText& text);

// 192.168.192.168 (the program's default address) and 0.0.0.0 mean this machine.
bool IsRemoteAddress(const std::uint8_t (&ip)[4]);
// "%d.%d.%d.%d" of the four bytes in order.
WideText AddressText(const std::uint8_t (&ip)[4]);
// "PVDPRT%03d".
WideText GeneratedPortName(int portNumber);

// "pipe://QX/" + name, or "tcp://" + address + "/QX/" + name; at most 63 characters.
WideText PortOpenUrl(bool remote, const WideText& address, const WideText& portName);
// "pipe://QX", or "tcp://" + address + "/QX/".
WideText PortListUrl(bool remote, const WideText& address);
// "pipe://QX/" + name + "/", or "tcp://" + address + "/QX/" + name + "/".
WideText PortPropertyUrl(bool remote, const WideText& address, const WideText& portName);

// The names of a list answer of `size` bytes, in order. Each entry ends at its NUL and
// the list at an empty entry; the walk never leaves the answer, so a list without its
// closing empty entry ends at the end of the buffer, and a last entry cut off by the end
// of the buffer (no NUL) is not a name.
std::vector<WideText> PortListNames(const unsigned char* answer, std::size_t size);
// The entry at `position` (counting from 0), cut to the longest port name; none when
// the list is shorter (or the position negative).
std::optional<WideText> PortListEntry(const unsigned char* answer, std::size_t size, int position);
// The wide text of a property answer: up to its NUL or the end of the answer.
WideText AnswerText(const unsigned char* answer, std::size_t size);
// A property name as the property control takes it: its UTF-16 code units with the NUL.
std::vector<unsigned char> PropertyRequest(const char* name);

// length x multiplier + constant milliseconds. Kept below 0xFFFFFFFF, which a library
// may take as "no limit".
std::uint32_t ServiceWriteTimeout(int length, std::uint32_t multiplier, std::uint32_t constant);

// Lines of the diagnostic listing, byte for byte.
std::string PipeListingLine(const WideText& portName);                          // "  PortHandler pipe  %S  "
std::string TcpListingLine(const WideText& portName, const WideText& address);  // "  PortHandler tcp   %S  %S\n"
std::string PropertyField(const WideText& value);                               // "  %S"
std::string LastPropertyField(const WideText& value);                           // "  %S\n"

// The Program Files folder as read from the registry.
struct ProgramFilesLookup {
  bool KeyOpened = false;
  bool ValueRead = false;
  WideText Value;
};
inline constexpr char16_t ServiceLibraryName[] = u"ZemakPH.dll";
inline constexpr char16_t DefaultProgramFilesFolder[] = u"C:\\Program Files";
// The folder (the registry's, else "C:\Program Files") + "\ZEMAK\ZTovel\ZTovel.dll".
WideText FallbackLibraryPath(const ProgramFilesLookup& folder);

}  // namespace qx
