#include "port/service/service_rules.h"

#include <cstdio>

namespace qx {

namespace {

char16_t UnitAt(const unsigned char* bytes, std::size_t unit) {
  // Little-endian, as the library writes it on every Windows machine.
  return static_cast<char16_t>(bytes[2 * unit] | (bytes[2 * unit + 1] << 8));
}

WideText RemotePrefix(const WideText& address) { return u"tcp://" + address + u"/QX/"; }

}  // namespace

WideText Widen(const std::string& ascii) {
  WideText text;
  text.reserve(ascii.size());
  for (unsigned char c : ascii) text.push_back(static_cast<char16_t>(c));
  return text;
}

std::string Narrow(const WideText& text) {
  std::string narrow;
  narrow.reserve(text.size());
  for (char16_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return narrow;
}

bool IsRemoteAddress(const std::uint8_t (&ip)[4]) {
  const bool fallback = ip[0] == 192 && ip[1] == 168 && ip[2] == 192 && ip[3] == 168;
  const bool zero = ip[0] == 0 && ip[1] == 0 && ip[2] == 0 && ip[3] == 0;
  return !fallback && !zero;
}

WideText AddressText(const std::uint8_t (&ip)[4]) {
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
  return Widen(text);
}

WideText GeneratedPortName(int portNumber) {
  char text[24];
  std::snprintf(text, sizeof text, "PVDPRT%03d", portNumber);
  return Widen(text);
}

WideText PortOpenUrl(bool remote, const WideText& address, const WideText& portName) {
  WideText url = remote ? RemotePrefix(address) + portName : u"pipe://QX/" + portName;
  if (url.size() > MaxOpenUrlLength) url.resize(MaxOpenUrlLength);
  return url;
}

WideText PortListUrl(bool remote, const WideText& address) { return remote ? RemotePrefix(address) : u"pipe://QX"; }

WideText PortPropertyUrl(bool remote, const WideText& address, const WideText& portName) {
  return (remote ? RemotePrefix(address) : WideText(u"pipe://QX/")) + portName + u"/";
}

std::vector<WideText> PortListNames(const unsigned char* answer, std::size_t size) {
  std::vector<WideText> names;
  if (answer == nullptr) return names;
  const std::size_t units = size / 2;
  WideText entry;
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t c = UnitAt(answer, i);
    if (c != 0) {
      entry.push_back(c);
      continue;
    }
    if (entry.empty()) break;  // the closing empty entry
    names.push_back(entry);
    entry.clear();
  }
  return names;
}

std::optional<WideText> PortListEntry(const unsigned char* answer, std::size_t size, int position) {
  if (position < 0) return std::nullopt;
  std::vector<WideText> names = PortListNames(answer, size);
  if (static_cast<std::size_t>(position) >= names.size()) return std::nullopt;
  WideText name = names[static_cast<std::size_t>(position)];
  if (name.size() > MaxServicePortNameLength) name.resize(MaxServicePortNameLength);
  return name;
}

WideText AnswerText(const unsigned char* answer, std::size_t size) {
  WideText text;
  if (answer == nullptr) return text;
  for (std::size_t i = 0; i < size / 2; ++i) {
    const char16_t c = UnitAt(answer, i);
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

std::vector<unsigned char> PropertyRequest(const char* name) {
  std::vector<unsigned char> bytes;
  for (const char* p = name; *p != '\0'; ++p) {
    bytes.push_back(static_cast<unsigned char>(*p));
    bytes.push_back(0);
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

std::uint32_t ServiceWriteTimeout(int length, std::uint32_t multiplier, std::uint32_t constant) {
  constexpr std::uint64_t limit = 0xFFFFFFFEu;
  const std::uint64_t bytes = length > 0 ? static_cast<std::uint64_t>(length) : 0;
  const std::uint64_t total = bytes * multiplier + constant;
  return static_cast<std::uint32_t>(total < limit ? total : limit);
}

std::string PipeListingLine(const WideText& portName) { return "  PortHandler pipe  " + Narrow(portName) + "  "; }

std::string TcpListingLine(const WideText& portName, const WideText& address) {
  return "  PortHandler tcp   " + Narrow(portName) + "  " + Narrow(address) + "\n";
}

std::string PropertyField(const WideText& value) { return "  " + Narrow(value); }

std::string LastPropertyField(const WideText& value) { return "  " + Narrow(value) + "\n"; }

WideText FallbackLibraryPath(const ProgramFilesLookup& folder) {
  // A key that opens without a readable value gives the same folder as no key: a path
  // starting at "\ZEMAK" would load a library from the root of whatever drive is current.
  const bool useValue = folder.KeyOpened && folder.ValueRead && !folder.Value.empty();
  const WideText base = useValue ? folder.Value : WideText(DefaultProgramFilesFolder);
  return base + u"\\ZEMAK\\ZTovel\\ZTovel.dll";
}

}  // namespace qx
