#include "sim/transport/udp_server.h"

#include <algorithm>
#include <vector>

#include "platform/time.h"

namespace qx::sim {

namespace {
constexpr int PollMs = 10;
}

UdpZemakServer::UdpZemakServer(ZemakResponder& responder, Ipv4Endpoint at) : responder_(responder), at_(at) {}

UdpZemakServer::~UdpZemakServer() { Stop(); }

bool UdpZemakServer::Start(std::string* error) {
  if (thread_.joinable()) return true;
  Socket s = Socket::Udp();
  if (!s.Valid() || Bind(s.Handle(), at_) != 0) {
    if (error) {
      *error = "cannot bind udp " + FormatDottedAddress(at_.Address) + ":" + std::to_string(at_.Port) + " (" +
               std::to_string(SocketError()) + ")";
    }
    return false;
  }
  SetNonBlocking(s.Handle(), true);
  if (at_.Port == 0) LocalEndpoint(s.Handle(), at_);
  socket_ = std::move(s);
  stop_ = false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void UdpZemakServer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  socket_.Close();
}

void UdpZemakServer::Run() {
  std::vector<char> buffer(65536);
  while (!stop_) {
    int timeout = PollMs;
    const std::int64_t due = responder_.MillisecondsUntilNext();
    if (due >= 0) timeout = static_cast<int>(std::min<std::int64_t>(timeout, due));
    const int ready = WaitReadable(socket_.Handle(), timeout);
    if (ready < 0) SleepMilliseconds(1);  // never spin on a failing wait
    if (ready > 0) {
      // Several datagrams may be waiting; take a bounded number per round.
      for (int i = 0; i < 64; ++i) {
        Ipv4Endpoint from;
        const int n = ReceiveFrom(socket_.Handle(), buffer.data(), static_cast<int>(buffer.size()), &from);
        if (n < 0) break;  // nothing more, or an error report of an earlier send: polled again
        ++received_;
        responder_.Receive(Peer{from.Address, from.Port}, std::string_view(buffer.data(), static_cast<std::size_t>(n)));
      }
    }
    for (const Datagram& d : responder_.TakeDue()) {
      // Replies only ever go back to a real sender: never to a broadcast, any or zero port.
      const bool everyone = d.To.Address == BroadcastAddress || d.To.Address == AnyAddress;
      if (everyone || d.To.Port == 0) continue;
      SendTo(socket_.Handle(), d.Data.data(), static_cast<int>(d.Data.size()), Ipv4Endpoint{d.To.Address, d.To.Port});
    }
  }
}

}  // namespace qx::sim
