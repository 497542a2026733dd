#include "sim/transport/simulated_printer.h"

namespace qx::sim {

SimulatedPrinter::SimulatedPrinter(SimulatedPrinterOptions options)
    : options_(std::move(options)),
      clock_(options_.TimeSource ? *options_.TimeSource : static_cast<Clock&>(realClock_)),
      printer_(clock_, options_.Printer),
      zemak_(clock_, options_.Zemak, &printer_) {}

SimulatedPrinter::~SimulatedPrinter() { Stop(); }

bool SimulatedPrinter::Start(std::string* error) {
  if (!sockets_.Started()) {
    if (error) *error = "the socket library did not start";
    return false;
  }
  if (options_.Tcp && !tcp_) {
    tcp_ = std::make_unique<TcpPrinterServer>(printer_, Ipv4Endpoint{options_.Address, options_.TcpPort});
    if (!tcp_->Start(error)) {
      Stop();
      return false;
    }
  }
  if (options_.Udp && !udp_) {
    udp_ = std::make_unique<UdpZemakServer>(zemak_, Ipv4Endpoint{options_.Address, options_.UdpPort});
    if (!udp_->Start(error)) {
      Stop();
      return false;
    }
  }
  if (options_.Serial && !pty_) {
    pty_ = std::make_unique<PtyPrinterServer>(printer_);
    if (!pty_->Start(error, options_.SerialLink)) {
      Stop();
      return false;
    }
  }
  return true;
}

void SimulatedPrinter::Stop() {
  pty_.reset();
  udp_.reset();
  tcp_.reset();
}

Ipv4Endpoint SimulatedPrinter::TcpEndpoint() const { return tcp_ ? tcp_->Endpoint() : Ipv4Endpoint{}; }
Ipv4Endpoint SimulatedPrinter::UdpEndpoint() const { return udp_ ? udp_->Endpoint() : Ipv4Endpoint{}; }
std::string SimulatedPrinter::SerialPath() const { return pty_ ? pty_->SlavePath() : std::string(); }

}  // namespace qx::sim
