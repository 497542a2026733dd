#pragma once

// The qxmodel process: the real streams and the platform's bindings around RunQxModel.

namespace qx::cli {

// `fastWaits` only for the test build of the program (a printer that restarts at once);
// the shipped program passes false and has no way to change it.
int QxModelMain(int argc, char** argv, bool fastWaits);

}  // namespace qx::cli
