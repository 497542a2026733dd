#pragma once

// qxmodel's run over the program's own bindings (the real port kinds), with fast waits
// and both streams captured: the base of the tests against simulated printers.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "cli/platform_bindings.h"
#include "cli/qxmodel.h"
#include "sim/transport/simulated_printer.h"

namespace qx::cli {

class ProgramRunTest : public ::testing::Test {
 protected:
  ProgramRunTest() {
    env.FastWaits = true;
    BindPlatform(env);
  }

  int Run(const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    return RunQxModel(args, env);
  }

  // Starts a printer that restarts in a moment; fails the test when it cannot.
  static void Start(sim::SimulatedPrinterOptions options, std::unique_ptr<sim::SimulatedPrinter>& printer) {
    options.Printer.RestartMs = 50;
    printer = std::make_unique<sim::SimulatedPrinter>(options);
    std::string error;
    ASSERT_TRUE(printer->Start(&error)) << error;
  }

  std::ostringstream out;
  std::ostringstream err;
  Environment env{nullptr, out, err};
};

}  // namespace qx::cli
