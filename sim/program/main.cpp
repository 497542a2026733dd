// qxsim: the simulated QX-K40VII printer as a program, for the demo and for tests that
// need a printer in another process. It listens where it is told, answers whoever
// asks, and never sends anything else.

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "platform/time.h"
#include "sim/program/options.h"

namespace {

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void OnStopSignal(int) { stopSignal = 1; }

void Say(const std::string& line) {
  std::fputs(("qxsim: " + line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qx::sim;
  ProgramOptions options;
  std::string error;
  if (!ParseProgramOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    std::fprintf(stderr, "qxsim: %s\n%s", error.c_str(), UsageText().c_str());
    return 2;
  }
  if (options.Help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }

  std::ofstream log;
  std::ofstream capture;
  if (!options.LogFile.empty()) {
    log.open(options.LogFile, std::ios::out | std::ios::trunc);
    if (!log) {
      std::fprintf(stderr, "qxsim: cannot write %s\n", options.LogFile.c_str());
      return 1;
    }
  }
  if (!options.PrintFile.empty()) {
    capture.open(options.PrintFile, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!capture) {
      std::fprintf(stderr, "qxsim: cannot write %s\n", options.PrintFile.c_str());
      return 1;
    }
  }

  SimulatedPrinter printer(options.Printer);
  for (const FaultSpec& fault : options.Faults) ApplyFaultSpec(fault, &printer.Printer(), &printer.Zemak());

  // Both logs go to one file; their sinks run on different server threads.
  std::mutex logLock;
  if (log.is_open()) {
    printer.Printer().SetLogSink([&](const LogEntry& entry) {
      std::lock_guard lock(logLock);
      log << FormatLogEntry(entry) << '\n' << std::flush;
    });
    printer.Zemak().SetLogSink([&](const ZemakLogEntry& entry) {
      std::lock_guard lock(logLock);
      log << FormatZemakLogEntry(entry) << '\n' << std::flush;
    });
  }
  printer.Printer().SetPrintSink([&](const std::string& line) {
    if (capture.is_open()) capture << line << '\n' << std::flush;
    Say("printed: " + line);
  });

  if (!printer.Start(&error)) {
    std::fprintf(stderr, "qxsim: %s\n", error.c_str());
    return 1;
  }
  const std::string address = qx::FormatDottedAddress(options.Printer.Address);
  if (printer.Tcp()) Say("tcp " + address + ":" + std::to_string(printer.TcpEndpoint().Port));
  if (printer.Udp()) Say("udp " + address + ":" + std::to_string(printer.UdpEndpoint().Port));
  if (options.Printer.Serial) Say("serial " + printer.SerialPath());
  Say("ready");

  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  const std::int64_t start = qx::SteadyMilliseconds();
  const auto lifetimeMs = static_cast<std::int64_t>(options.LifetimeSeconds * 1000);
  bool wasReachable = true;
  while (!stopSignal) {
    if (lifetimeMs > 0 && qx::SteadyMilliseconds() - start >= lifetimeMs) break;
    const bool reachable = printer.Printer().Reachable();
    if (reachable != wasReachable) {
      char text[64];
      if (reachable) {
        std::snprintf(text, sizeof text, "back, model setting %02X", printer.Printer().ModelSetting());
      } else {
        std::snprintf(text, sizeof text, "restarting for %lld ms",
                      static_cast<long long>(printer.Printer().MillisecondsUntilBack()));
      }
      Say(text);
      wasReachable = reachable;
    }
    qx::SleepMilliseconds(20);
  }
  printer.Stop();
  Say(stopSignal ? "stopped" : "lifetime over");
  return 0;
}
