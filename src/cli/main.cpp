// qxmodel: the model setting utility's exchanges from a command line.

#include "cli/program.h"

int main(int argc, char** argv) { return qx::cli::QxModelMain(argc, argv, false); }
