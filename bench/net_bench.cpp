// Async TCP PortWrite throughput through the send worker next to a raw socket sending
// to the same discarding receiver on loopback. Prints rows for scripts/bench
// (figure, measured, reference, tab-separated). Get over TCP is measured by
// exchange_bench.

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/fake_host.h"
#include "app/main_window_logic.h"
#include "platform/sockets.h"
#include "platform/time.h"
#include "port/net/net_port.h"
#include "port/placeholder_port.h"
#include "port/port_table.h"
#include "sim/engine/printer_engine.h"
#include "sim/transport/simulated_printer.h"

namespace {

using namespace qx;

double Microseconds(std::int64_t startUs, std::int64_t endUs) { return static_cast<double>(endUs - startUs); }

std::int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Accepts one connection at a time and counts what arrives.
class Sink {
 public:
  explicit Sink(Ipv4Endpoint at) {
    SetReuseAddress(listener_.Handle(), true);
    Bind(listener_.Handle(), at);
    Listen(listener_.Handle(), 4);
    thread_ = std::thread([this] { Run(); });
  }
  ~Sink() {
    stop_ = true;
    thread_.join();
  }
  std::atomic<long long> Bytes{0};

 private:
  void Run() {
    std::vector<char> buffer(1 << 16);
    Socket client;
    while (!stop_) {
      if (!client.Valid()) {
        if (WaitReadable(listener_.Handle(), 20) > 0) client = Socket(Accept(listener_.Handle(), nullptr));
        continue;
      }
      if (WaitReadable(client.Handle(), 20) <= 0) continue;
      const int n = Receive(client.Handle(), buffer.data(), static_cast<int>(buffer.size()));
      if (n <= 0) {
        client.Close();
        continue;
      }
      Bytes += n;
    }
  }
  Socket listener_ = Socket::Tcp();
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void WriteThroughput() {
  const Ipv4Address address{127, 6, 9, 2};
  sim::SimulatedPrinterOptions options;  // answers the status probe only
  options.Address = address;
  options.Tcp = false;
  sim::SimulatedPrinter printer(options);
  std::string error;
  if (!printer.Start(&error)) {
    std::printf("Async TCP PortWrite (MB/s)\tn/a (%s)\t\n", error.c_str());
    return;
  }
  Sink sink({address, RawPrintPort});
  constexpr long long total = 64LL << 20;
  const std::string chunk(4096, 'x');

  TQXNET port(KindNetwork, {});
  PortSettings settings;
  for (int i = 0; i < 4; ++i) settings.IpAddress[i] = address[i];
  port.Configure(&settings);
  if (port.Open() != 1) {
    std::printf("Async TCP PortWrite (MB/s)\tn/a (the port did not open)\t\n");
    return;
  }
  // Every wait ends after a minute, whatever the machine does.
  const std::int64_t giveUp = NowUs() + 60'000'000;
  long long queued = 0;
  std::int64_t start = NowUs();
  while (queued < total && NowUs() < giveUp) {
    int written = 0;
    if (port.Write(0, chunk.data(), static_cast<int>(chunk.size()), &written) == 1) {
      queued += written;
    } else {
      std::this_thread::yield();
    }
  }
  while (sink.Bytes < queued && NowUs() < giveUp) std::this_thread::yield();
  const double portS = Microseconds(start, NowUs()) / 1e6;
  port.Close();

  std::string rawFigures;
  for (int block : {1024, 65536}) {
    const long long base = sink.Bytes;
    Socket raw = Socket::Tcp();
    Connect(raw.Handle(), {address, RawPrintPort});
    const std::string data(static_cast<std::size_t>(block), 'y');
    start = NowUs();
    long long sent = 0;
    while (sent < total && NowUs() < giveUp) {
      const int n = Send(raw.Handle(), data.data(), block);
      if (n > 0) sent += n;
    }
    while (sink.Bytes - base < sent && NowUs() < giveUp) std::this_thread::yield();
    const double rawS = Microseconds(start, NowUs()) / 1e6;
    char figure[96];
    std::snprintf(figure, sizeof figure, "%sraw socket %.0f MB/s with %d-byte sends", rawFigures.empty() ? "" : "; ",
                  static_cast<double>(sent) / rawS / 1e6, block);
    rawFigures += figure;
    raw.Close();
    SleepMilliseconds(50);
  }
  std::printf("Async TCP PortWrite (MB/s)\t%.0f\t%s (port: 4096-byte writes, 1024-byte sends)\n",
              static_cast<double>(queued) / portS / 1e6, rawFigures.c_str());
}

}  // namespace

int main(int, char**) {
  SocketLibrary library;
  WriteThroughput();
  return 0;
}
