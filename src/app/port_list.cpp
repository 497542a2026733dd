#include "app/port_list.h"

#include <cstdio>

namespace qx {

std::vector<UsbListEntry> UsbListEntries(const std::vector<int>& vendorInterfaces,
                                         const std::vector<int>& printerInterfaces) {
  std::vector<UsbListEntry> entries;
  int number = 0;
  char name[32];
  for (std::size_t i = 0; i < vendorInterfaces.size(); ++i, ++number) {
    std::snprintf(name, sizeof name, "USB-%03d", number);
    entries.push_back({name, KindVendorUsb, number});
  }
  for (int index : printerInterfaces) {
    std::snprintf(name, sizeof name, "USB PRN-%03d", number++);
    entries.push_back({name, KindUsbPrinter, index});
  }
  return entries;
}

PortList::Added PortList::AddPortEntry(const std::string& name, const PortSettings& settings, int& index) {
  if (name.empty()) return Added::Ignored;
  for (int i = 0; i < Count(); ++i) {
    if (names_[i] == name) {
      entries_[i].BaudCode = settings.BaudCode;
      entries_[i].ParityCode = settings.ParityCode;
      selected_ = index = i;
      return Added::Updated;
    }
  }
  if (Count() > MaxItems - 1) return Added::Ignored;
  names_.push_back(name);
  index = Count() - 1;
  entries_[index] = settings;
  selected_ = index;
  return Added::Appended;
}

void PortList::Select(int index) {
  if (index >= -1 && index < Count()) selected_ = index;
}

}  // namespace qx
