#pragma once

#include <string>

namespace qx {

// The DOS device name of a parallel device code: "LPT1".."LPT9" for codes 0 to 8
// (code + 1), "QXLPT<n>" for 9 to 18, "PVD_LPT<n>" for 19 and more (the first two
// codes of each vendor range both give 1).
std::string LptDosName(int lptCode);
// Only the standard LPT names can be redirected to the spooler's pipe.
bool LptNameMayBeSpooled(int lptCode);

}  // namespace qx
