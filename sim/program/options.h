#pragma once

// The qxsim program's command line.

#include <string>
#include <vector>

#include "sim/engine/fault_spec.h"
#include "sim/transport/simulated_printer.h"

namespace qx::sim {

struct ProgramOptions {
  SimulatedPrinterOptions Printer;
  std::vector<FaultSpec> Faults;
  std::string LogFile;
  std::string PrintFile;
  double LifetimeSeconds = 0;  // 0: until SIGINT or SIGTERM
  bool Help = false;
};

// False with the reason in `error` for a command line qxsim does not take.
bool ParseProgramOptions(const std::vector<std::string>& args, ProgramOptions& options, std::string& error);
std::string UsageText();

}  // namespace qx::sim
