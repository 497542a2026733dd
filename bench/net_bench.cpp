// Figures of the network kind on loopback, in one run:
//  - Get through the main window's logic over TCP against the simulated printer, next
//    to its floor: the pauses the exchange must make plus three command round trips
//    measured on a raw connection to the same printer;
//  - PortWrite throughput through the send worker next to a raw socket sending to the
//    same discarding receiver.

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/fake_host.h"
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

// Real time and real pauses, counted.
class TimedHost : public test::FakeHost {
 public:
  std::int64_t ElapsedMilliseconds() override { return SteadyMilliseconds(); }
  void Sleep(int ms) override {
    sleptMs += ms;
    SleepMilliseconds(ms);
  }
};

class CountingTiming : public NetTiming {
 public:
  long long SleptMs = 0;
  void Sleep(int ms) override {
    SleptMs += ms;
    SleepMilliseconds(ms);
  }
};

double Microseconds(std::int64_t startUs, std::int64_t endUs) { return static_cast<double>(endUs - startUs); }

std::int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One command and its reply on a raw connection, in microseconds.
double RoundTrip(SocketHandle s, const std::string& command, std::size_t replySize) {
  const std::int64_t start = NowUs();
  Send(s, command.data(), static_cast<int>(command.size()));
  std::size_t got = 0;
  char buffer[256];
  while (got < replySize && WaitReadable(s, 2000) > 0) {
    const int n = Receive(s, buffer, sizeof buffer);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return Microseconds(start, NowUs());
}

void GetAgainstFloor() {
  sim::SimulatedPrinterOptions options;
  options.Address = {127, 6, 9, 1};
  sim::SimulatedPrinter printer(options);
  std::string error;
  if (!printer.Start(&error)) {
    std::printf("cannot start the simulated printer: %s\n", error.c_str());
    return;
  }
  CountingTiming timing;
  TimedHost host;
  PortTable table([&](int kind) -> std::unique_ptr<TQXCCC> {
    if (kind == KindNetwork) return std::make_unique<TQXNET>(kind, TQXNET::WindowSource{}, timing);
    return std::make_unique<TPlaceholderPort>(kind, kind);
  });
  MainWindowLogic logic(table, host);
  logic.CreatePorts(nullptr);
  PortSettings net = logic.CurrentSettings();
  net.PortType = KindNetwork;
  for (int i = 0; i < 4; ++i) net.IpAddress[i] = options.Address[i];
  logic.AddPortEntry("127.6.9.1", net);
  logic.SelectPort(logic.Ports().Count() - 1);
  logic.PortComboBoxChange();

  constexpr int runs = 5;
  double getUs = 0;
  long long sleeps = 0;
  for (int i = 0; i < runs; ++i) {
    host.sleptMs = 0;
    timing.SleptMs = 0;
    const std::int64_t start = NowUs();
    logic.GetButtonClick();
    getUs += Microseconds(start, NowUs());
    sleeps += host.sleptMs + timing.SleptMs;
  }
  logic.DestroyPorts();

  Socket raw = Socket::Tcp();
  Connect(raw.Handle(), printer.TcpEndpoint());
  double tripsUs = 0;
  for (int i = 0; i < runs; ++i) {
    tripsUs += RoundTrip(raw.Handle(), sim::wire::Identify(), sim::wire::IdentifyReply("QX-K40VII").size());
    tripsUs += RoundTrip(raw.Handle(), sim::wire::FirmwareQuery(), sim::wire::FirmwareReply("6.00").size());
    tripsUs += RoundTrip(raw.Handle(), sim::wire::ModelSettingQuery(), sim::wire::ModelSettingReply('0').size());
  }
  const double floorMs = static_cast<double>(sleeps) / runs + tripsUs / runs / 1000.0;
  std::printf("Get over TCP: %.1f ms per Get (%s), floor %.1f ms (pauses %.0f ms + three round trips %.3f ms), "
              "overhead %.1f ms\n",
              getUs / runs / 1000.0, host.label2.c_str(), floorMs, static_cast<double>(sleeps) / runs,
              tripsUs / runs / 1000.0, getUs / runs / 1000.0 - floorMs);
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
    std::printf("cannot start the simulated printer: %s\n", error.c_str());
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
    std::printf("cannot open the network port\n");
    return;
  }
  long long queued = 0;
  std::int64_t start = NowUs();
  while (queued < total) {
    int written = 0;
    if (port.Write(0, chunk.data(), static_cast<int>(chunk.size()), &written) == 1) {
      queued += written;
    } else {
      std::this_thread::yield();
    }
  }
  while (sink.Bytes < total) std::this_thread::yield();
  const double portS = Microseconds(start, NowUs()) / 1e6;
  port.Close();

  const long long before = sink.Bytes;
  for (int block : {1024, 65536}) {
    const long long base = sink.Bytes;
    Socket raw = Socket::Tcp();
    Connect(raw.Handle(), {address, RawPrintPort});
    const std::string data(static_cast<std::size_t>(block), 'y');
    start = NowUs();
    long long sent = 0;
    while (sent < total) {
      const int n = Send(raw.Handle(), data.data(), block);
      if (n > 0) sent += n;
    }
    while (sink.Bytes - base < total) std::this_thread::yield();
    const double rawS = Microseconds(start, NowUs()) / 1e6;
    std::printf("raw socket, %5d-byte sends: %.0f MB/s\n", block, total / rawS / 1e6);
    raw.Close();
    SleepMilliseconds(50);
  }
  (void)before;
  std::printf("PortWrite (4096-byte writes, 1024-byte sends): %.0f MB/s\n", total / portS / 1e6);
}

}  // namespace

int main() {
  SocketLibrary library;
  GetAgainstFloor();
  WriteThroughput();
  return 0;
}
