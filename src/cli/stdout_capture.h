#pragma once

#include <functional>
#include <string>

namespace qx::cli {

// Runs `body` with the process's standard output sent to a temporary file, and gives
// back what was written there. The port kinds' diagnostic listings print to standard
// output; this keeps them out of a JSON result and inside it instead.
std::string CaptureStandardOutput(const std::function<void()>& body);

}  // namespace qx::cli
