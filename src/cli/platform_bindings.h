#pragma once

#include "cli/qxmodel.h"

namespace qx::cli {

// Binds what this build has: SetupAPI's USB listing and the Service Control Manager
// on Windows, the network search and the network kind's identification where the
// network kind is built, and the watch for interrupts.
void BindPlatform(Environment& env);

}  // namespace qx::cli
