#include "port/parallel/lpt_rules.h"

namespace qx {

std::string LptDosName(int code) {
  if (code <= 8) return "LPT" + std::to_string(code + 1);
  if (code <= 18) return "QXLPT" + std::to_string(code <= 10 ? 1 : code - 9);
  return "PVD_LPT" + std::to_string(code <= 20 ? 1 : code - 19);
}

bool LptNameMayBeSpooled(int code) { return code <= 8; }

}  // namespace qx
