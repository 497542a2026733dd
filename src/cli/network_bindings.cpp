#include "cli/platform_bindings.h"

// Without the network kind in this build: no search and no identification.

namespace qx::cli {

void BindNetwork(Environment&) {}

}  // namespace qx::cli
