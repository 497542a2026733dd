#include "addport/add_port_rules.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace qx {

namespace {

constexpr int MaxDeviceNumber = 255;
constexpr std::size_t AddressCharsExamined = 32;

// The integer that atoi would read, without its undefined overflow: leading blanks, an
// optional sign, then decimal digits; large values saturate.
long long LeadingInteger(const std::string& text, std::size_t from = 0) {
  std::size_t i = from;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                             text[i] == '\v' || text[i] == '\f')) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < std::numeric_limits<int>::max()) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

// The number after a device name's first three characters, minus 1.
int NumberAfterPrefix(const std::string& name) {
  return static_cast<int>(LeadingInteger(name, name.size() < 3 ? name.size() : 3)) - 1;
}

}  // namespace

std::vector<std::string> PresentDeviceNames(const char* prefix, const std::function<bool(const std::string&)>& exists) {
  std::vector<std::string> names;
  char name[16];
  for (int n = 1; n <= MaxDeviceNumber; ++n) {
    std::snprintf(name, sizeof name, "%s%d", prefix, n);
    if (exists(name)) names.emplace_back(name);
  }
  return names;
}

std::string NormaliseOctet(const std::string& text) {
  const long long value = LeadingInteger(text);
  if (value >= 1 && value <= 255) return std::to_string(value);
  return "0";
}

void SplitAddressIntoOctets(const std::string& address, std::array<std::string, 4>& octets) {
  const std::string text = address.substr(0, std::min(address.size(), AddressCharsExamined));
  std::size_t start = 0;
  for (int piece = 0; piece < 4; ++piece) {
    const std::size_t dot = text.find('.', start);
    const std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    octets[piece] = std::to_string(LeadingInteger(part));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
}

bool AddSearchAnswer(std::vector<std::string>& addresses, const std::string& address) {
  for (const std::string& listed : addresses) {
    if (listed == address) return false;
  }
  addresses.push_back(address);
  return true;
}

AddPortEntryData BuildPortEntry(const AddPortChoice& choice, const PortSettings& settings) {
  AddPortEntryData entry{"", settings};
  PortSettings& s = entry.Settings;
  switch (choice.Page) {
    case AddPortPage::Com:
      entry.Name = choice.ComName;
      if (entry.Name.empty()) break;
      s.PortType = KindSerial;
      s.BaudCode = choice.SpeedIndex + 1;
      s.ParityCode = choice.ParityIndex;
      s.PortNumber = NumberAfterPrefix(entry.Name);
      break;
    case AddPortPage::Lpt:
      entry.Name = choice.LptName;
      if (entry.Name.empty()) break;
      s.PortType = KindParallel;
      s.LptCode = NumberAfterPrefix(entry.Name);
      break;
    case AddPortPage::Usb:
      entry.Name = choice.UsbName;
      s.PortType = KindVendorUsb;
      s.DeviceNumber = choice.UsbIndex;
      if (entry.Name.find("PRN") != std::string::npos) s.PortType = KindUsbPrinter;
      // The listed item's own number: its interface index within its class.
      if (choice.UsbIndex >= 0 && choice.UsbIndex < static_cast<int>(choice.UsbEntries.size()) &&
          choice.UsbEntries[choice.UsbIndex].Name == entry.Name) {
        s.DeviceNumber = choice.UsbEntries[choice.UsbIndex].DeviceNumber;
      }
      break;
    case AddPortPage::Ethernet:
      entry.Name = choice.Octets[0] + "." + choice.Octets[1] + "." + choice.Octets[2] + "." + choice.Octets[3];
      s.PortType = KindNetwork;
      for (int i = 0; i < 4; ++i) s.IpAddress[i] = static_cast<std::uint8_t>(LeadingInteger(choice.Octets[i]) & 0xFF);
      break;
  }
  return entry;
}

}  // namespace qx
