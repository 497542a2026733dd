#pragma once

// The printer's serial line as a pseudo-terminal (Linux only): the host opens the slave
// side (its path is SlavePath(), optionally also reachable through a symbolic link),
// and the bytes it writes there go to one HostLink of the engine. While the printer is
// unreachable the line is silent and what the host sends is lost. One thread of its
// own; every wait in it is bounded.

#include <atomic>
#include <string>
#include <thread>

#include "sim/engine/printer_engine.h"

namespace qx::sim {

class PtyPrinterServer {
 public:
  explicit PtyPrinterServer(PrinterEngine& printer);
  PtyPrinterServer(const PtyPrinterServer&) = delete;
  PtyPrinterServer& operator=(const PtyPrinterServer&) = delete;
  ~PtyPrinterServer();

  // Creates the pty in raw mode (and the link, replacing an old symbolic link there);
  // false with the reason when that fails or the system has no ptys.
  bool Start(std::string* error = nullptr, const std::string& linkPath = "");
  // Closes the pty and removes the link; returns within about 50 ms.
  void Stop();

  const std::string& SlavePath() const { return slavePath_; }
  static bool Available();

 private:
  void Run();

  PrinterEngine& printer_;
  int master_ = -1;
  int slave_ = -1;  // kept open so the line stays up while no host has it open
  std::string slavePath_;
  std::string linkPath_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

}  // namespace qx::sim
