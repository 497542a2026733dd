#pragma once

// The Add Port dialog's rules without its window: what each page lists, how an octet
// field is corrected when it loses the focus, how search answers join the address
// list, and how the operator's choice becomes a port-list entry.

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "app/port_list.h"
#include "port/port_settings.h"

namespace qx {

// The pages of PageControl1, in tab order.
enum class AddPortPage : int { Com = 0, Lpt = 1, Usb = 2, Ethernet = 3 };
inline constexpr int AddPortPageCount = 4;

// ComboBox12 and ComboBox13.
inline constexpr std::array<const char*, 7> SpeedItems = {"2400 bps",  "4800 bps",  "9600 bps",  "19200 bps",
                                                          "38400 bps", "57600 bps", "115200 bps"};
inline constexpr int DefaultSpeedIndex = 2;
inline constexpr std::array<const char*, 3> ParityItems = {"Non", "Odd", "Even"};
inline constexpr int DefaultParityIndex = 0;
inline constexpr std::array<const char*, 4> DefaultOctets = {"192", "168", "192", "168"};

// "COM%d" / "LPT%d" for n = 1 to 255 whose DOS device exists, in ascending order.
// `exists` stands for QueryDosDeviceA returning nonzero.
std::vector<std::string> PresentDeviceNames(const char* prefix, const std::function<bool(const std::string&)>& exists);

// The value of an octet field once the focus has left it: 1 to 255 as "%i", else "0".
std::string NormaliseOctet(const std::string& text);

// ComboBox41Change: the four numbers of a dotted address (at most its first 32
// characters), as decimal texts without leading zeros. Missing pieces stay as they are.
void SplitAddressIntoOctets(const std::string& address, std::array<std::string, 4>& octets);

// Appends a search answer unless the list already holds exactly that text.
bool AddSearchAnswer(std::vector<std::string>& addresses, const std::string& address);

// What the Add Port command reads from the dialog after OK.
struct AddPortChoice {
  AddPortPage Page = AddPortPage::Usb;
  std::string ComName;  // selected item texts, "" when the list has no selection
  int SpeedIndex = DefaultSpeedIndex;
  int ParityIndex = DefaultParityIndex;
  std::string LptName;
  std::string UsbName;
  int UsbIndex = -1;
  // The USB list as offered, so that a printer-class item gets its interface index.
  std::vector<UsbListEntry> UsbEntries;
  std::array<std::string, 4> Octets{DefaultOctets[0], DefaultOctets[1], DefaultOctets[2], DefaultOctets[3]};
};

struct AddPortEntryData {
  std::string Name;  // empty: nothing to add
  PortSettings Settings;
};

// The entry for the active page; fields the page does not set come from `settings`.
AddPortEntryData BuildPortEntry(const AddPortChoice& choice, const PortSettings& settings);

}  // namespace qx
