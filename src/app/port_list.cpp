#include "app/port_list.h"

namespace qx {

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
