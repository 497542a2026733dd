// qxmodel for the tests that run the program against a simulated printer that restarts
// at once: the same program, its restart wait on the console host's skipping clock.

#include "cli/program.h"

int main(int argc, char** argv) { return qx::cli::QxModelMain(argc, argv, true); }
