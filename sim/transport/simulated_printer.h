#pragma once

// A whole simulated printer in one object: the engine, its network interface and the
// servers that make them reachable. In-process tests (also Windows programs under Wine)
// start one on their own 127.x.y.z address:
//
//   qx::sim::SimulatedPrinterOptions options;
//   options.Address = {127, 1, 0, 7};
//   qx::sim::SimulatedPrinter printer(options);
//   ASSERT_TRUE(printer.Start(&error)) << error;
//   ... the code under test talks to 127.1.0.7:9100 and :3289 ...
//   EXPECT_EQ(printer.Printer().PrintedLines().size(), 1u);
//
// With options.TimeSource set to a FakeClock, restarts and late replies follow that
// clock (the servers still poll in real time).

#include <memory>
#include <string>

#include "platform/sockets.h"
#include "sim/engine/printer_engine.h"
#include "sim/engine/zemak_responder.h"
#include "sim/transport/pty_server.h"
#include "sim/transport/real_clock.h"
#include "sim/transport/tcp_server.h"
#include "sim/transport/udp_server.h"

namespace qx::sim {

struct SimulatedPrinterOptions {
  Ipv4Address Address{127, 0, 0, 1};
  std::uint16_t TcpPort = 9100;
  std::uint16_t UdpPort = 3289;
  bool Tcp = true;
  bool Udp = true;
  bool Serial = false;        // a pty (Linux only)
  std::string SerialLink;     // also reachable through this symbolic link
  PrinterConfig Printer;
  ZemakConfig Zemak;
  Clock* TimeSource = nullptr;  // a real clock when absent; must outlive the printer
};

class SimulatedPrinter {
 public:
  explicit SimulatedPrinter(SimulatedPrinterOptions options = {});
  SimulatedPrinter(const SimulatedPrinter&) = delete;
  SimulatedPrinter& operator=(const SimulatedPrinter&) = delete;
  ~SimulatedPrinter();

  // Starts the servers the options ask for; false with the reason when one cannot
  // (the others are stopped again).
  bool Start(std::string* error = nullptr);
  void Stop();

  PrinterEngine& Printer() { return printer_; }
  ZemakResponder& Zemak() { return zemak_; }
  Clock& GetClock() { return clock_; }

  Ipv4Endpoint TcpEndpoint() const;
  Ipv4Endpoint UdpEndpoint() const;
  std::string SerialPath() const;
  TcpPrinterServer* Tcp() { return tcp_.get(); }
  UdpZemakServer* Udp() { return udp_.get(); }

 private:
  SimulatedPrinterOptions options_;
  SocketLibrary sockets_;
  RealClock realClock_;
  Clock& clock_;
  PrinterEngine printer_;
  ZemakResponder zemak_;
  std::unique_ptr<TcpPrinterServer> tcp_;
  std::unique_ptr<UdpZemakServer> udp_;
  std::unique_ptr<PtyPrinterServer> pty_;
};

}  // namespace qx::sim
