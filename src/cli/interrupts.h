#pragma once

// The ways a console process is told to end, turned into one call of the run's
// Interrupt: on Windows a console control handler (Ctrl-C, Ctrl-Break, the console
// closed, logoff, shutdown), elsewhere SIGINT and SIGTERM taken by a thread of their own.
// The run is watched only while it has services stopped; otherwise the defaults apply.

#include "cli/qxmodel.h"

namespace qx::cli {

// `target` from now on; null ends the watch (the defaults apply again).
void WatchInterrupts(InterruptTarget* target);

}  // namespace qx::cli
