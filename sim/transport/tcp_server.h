#pragma once

// The printer's raw print port (TCP 9100) on one IPv4 address. Each accepted connection
// is a HostLink of the engine. While the printer restarts or is switched off the port
// is closed: connections are closed and new ones refused; it listens again when the
// printer is back. One thread of its own; every wait in it is bounded.

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/sockets.h"
#include "sim/engine/printer_engine.h"

namespace qx::sim {

class TcpPrinterServer {
 public:
  // Port 0 takes any free port (kept across restarts).
  TcpPrinterServer(PrinterEngine& printer, Ipv4Endpoint at);
  TcpPrinterServer(const TcpPrinterServer&) = delete;
  TcpPrinterServer& operator=(const TcpPrinterServer&) = delete;
  ~TcpPrinterServer();

  // Binds and listens; false (with the reason) when that fails. Needs a started
  // socket library (SocketLibrary) for its whole life.
  bool Start(std::string* error = nullptr);
  // Closes every connection and the port; returns within about 50 ms.
  void Stop();

  Ipv4Endpoint Endpoint() const { return at_; }
  int Connections() const { return connections_.load(); }
  // Whether new connections are accepted now.
  bool Listening() const { return listening_.load(); }
  // Connections accepted so far.
  int Accepted() const { return accepted_.load(); }

  static constexpr int MaxConnections = 8;

 private:
  void Run();
  bool OpenListener(std::string* error);

  PrinterEngine& printer_;
  Ipv4Endpoint at_;
  Socket listener_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<int> accepted_{0};
  std::atomic<bool> listening_{false};
};

}  // namespace qx::sim
