// The network search's figure: how long NetPrinterSearch takes to find N printers on
// one link. bench/search_bench.sh runs both halves inside network namespaces it makes:
//
//   search_bench respond A.B.C.D N SECONDS   printers at A.B.C.D and the N-1 addresses
//                                            after it (one ZEMAK responder each), all
//                                            hearing the broadcast on 0.0.0.0:3289
//   search_bench search N LIMIT_MS           one search; prints the row
//                                            "Network search, N printers (ms)<TAB>ms<TAB>..."
//
// Each printer answers from a socket on its own address, as separate printers would.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/sockets.h"
#include "port/net/net_printer_search.h"
#include "port/net/net_protocol.h"
#include "sim/engine/zemak_responder.h"
#include "sim/transport/real_clock.h"

namespace {

using namespace qx;

int Respond(const char* first, int count, double seconds) {
  SocketLibrary library;
  Ipv4Address base;
  if (!ParseDottedAddress(first, base) || count < 1 || count > 250) return 2;
  sim::RealClock clock;
  Socket listener = Socket::Udp();
  SetReuseAddress(listener.Handle(), true);
  if (Bind(listener.Handle(), {AnyAddress, ZemakPort}) != 0) {
    std::fprintf(stderr, "search_bench: cannot bind 0.0.0.0:%u\n", unsigned{ZemakPort});
    return 1;
  }
  struct Printer {
    std::unique_ptr<sim::ZemakResponder> Responder;
    Socket From;
  };
  std::vector<Printer> printers;
  for (int i = 0; i < count; ++i) {
    Ipv4Address address = base;
    address[3] = static_cast<std::uint8_t>(base[3] + i);
    sim::ZemakConfig config;
    config.Mac[5] = static_cast<std::uint8_t>(i);
    Printer p{std::make_unique<sim::ZemakResponder>(clock, config), Socket::Udp()};
    SetReuseAddress(p.From.Handle(), true);
    if (Bind(p.From.Handle(), {address, ZemakPort}) != 0) {
      std::fprintf(stderr, "search_bench: cannot bind %s\n", FormatDottedAddress(address).c_str());
      return 1;
    }
    printers.push_back(std::move(p));
  }
  std::vector<char> buffer(65536);
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (WaitReadable(listener.Handle(), 50) <= 0) continue;
    Ipv4Endpoint from;
    const int n = ReceiveFrom(listener.Handle(), buffer.data(), static_cast<int>(buffer.size()), &from);
    if (n <= 0) continue;
    for (Printer& p : printers) {
      p.Responder->Receive(sim::Peer{from.Address, from.Port}, std::string_view(buffer.data(), n));
      for (const sim::Datagram& d : p.Responder->TakeDue()) {
        if (d.To.Port == 0 || d.To.Address == BroadcastAddress || d.To.Address == AnyAddress) continue;
        SendTo(p.From.Handle(), d.Data.data(), static_cast<int>(d.Data.size()), {d.To.Address, d.To.Port});
      }
    }
  }
  return 0;
}

int Search(int count, int limitMs) {
  NetPrinterSearch search;
  search.Open(nullptr, 0);
  std::set<std::string> found;
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto elapsedMs = [&] { return std::chrono::duration<double, std::milli>(Clock::now() - start).count(); };
  search.Broadcast();
  double last = -1;
  while (static_cast<int>(found.size()) < count && elapsedMs() < limitMs) {
    char address[32] = {};
    if (search.ReadReply(address, sizeof address) == 1) {
      found.insert(address);
      last = elapsedMs();
    } else {
      std::this_thread::yield();
    }
  }
  search.Close();
  const std::string figure = "Network search, " + std::to_string(count) + " printers (ms)";
  if (static_cast<int>(found.size()) < count) {
    std::printf("%s\t(%zu of %d found in %d ms)\t3000 ms reply window\n", figure.c_str(), found.size(), count,
                limitMs);
    return 1;
  }
  std::printf("%s\t%.1f\t3000 ms reply window\n", figure.c_str(), last);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "respond" && argc == 5) return Respond(argv[2], std::atoi(argv[3]), std::atof(argv[4]));
  if (mode == "search" && argc == 4) return Search(std::atoi(argv[2]), std::atoi(argv[3]));
  std::fprintf(stderr, "usage: search_bench respond A.B.C.D N SECONDS | search N LIMIT_MS\n");
  return 2;
}
