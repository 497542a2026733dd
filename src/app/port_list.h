#pragma once

// The port list of the main window: display names paired with settings records, held
// for the run only.

#include <array>
#include <string>
#include <vector>

#include "port/port_settings.h"

namespace qx {

// One USB entry as the main window lists them at start and the Add Port dialog offers
// them: names share one running number, vendor-driver devices first; a printer-class
// entry carries its index among the printer-class interfaces, so that its port opens
// the device that was listed.
struct UsbListEntry {
  std::string Name;
  int PortType = 0;
  int DeviceNumber = 0;
};
// `vendorInterfaces`/`printerInterfaces`: the interface indexes whose details could
// be read, in listing order.
std::vector<UsbListEntry> UsbListEntries(const std::vector<int>& vendorInterfaces,
                                         const std::vector<int>& printerInterfaces);

class PortList {
 public:
  // Room for 256 records; a new item is appended only while 128 or fewer are listed.
  static constexpr int Capacity = 256;
  static constexpr int MaxItems = 129;

  enum class Added { Ignored, Updated, Appended };

  // Adds a new entry or updates the one of the same name (only its BaudCode and
  // ParityCode), and selects it. `index` gets the entry's index unless ignored.
  Added AddPortEntry(const std::string& name, const PortSettings& settings, int& index);

  int Count() const { return static_cast<int>(names_.size()); }
  const std::string& Name(int index) const { return names_[index]; }
  const PortSettings& Entry(int index) const { return entries_[index]; }
  int Selected() const { return selected_; }
  void Select(int index);

 private:
  std::vector<std::string> names_;
  std::array<PortSettings, Capacity> entries_{};
  int selected_ = -1;
};

}  // namespace qx
