// Figures of whole exchanges, printed as rows "figure<TAB>measured<TAB>reference" for
// scripts/bench's table:
//   - Get over a pty: the main window's Get through the real port table to the
//     simulated printer on a pseudo-terminal, against the floor of the same three
//     command/reply round trips made directly on the same pty;
//   - Get over TCP: the same through the network kind to the simulated printer on
//     127.12.0.1, against its settle sleeps plus three raw round trips on a socket;
//   - idle CPU of the process once its ports exist and no exchange runs, and its peak
//     memory after the exchanges.
//   - Get over a pty again with every sleep of the exchange lasting whole 15.6 ms timer
//     ticks, as 1 ms sleeps do on Windows unless the process asks for 1 ms ticks: what
//     the exchange's fine sleeps are worth.
// The pty port below is the bench's own: the product's serial kind is Win32 only.

#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/main_window_logic.h"
#include "platform/time.h"
#include "port/placeholder_port.h"
#include "sim/engine/printer_engine.h"
#include "port/net/net_port.h"
#include "sim/transport/pty_server.h"
#include "sim/transport/real_clock.h"
#include "sim/transport/simulated_printer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

using namespace qx;

// A synchronous port over a tty, non-blocking: reads give what is there.
class TPtyPort final : public TPlaceholderPort {
 public:
  TPtyPort(int kind, std::string path) : TPlaceholderPort(kind, kind), path_(std::move(path)) {}
  ~TPtyPort() override { Close(); }
  int Open() override {
    if (fd_ >= 0) return 1;
    fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return 0;
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    tcsetattr(fd_, TCSANOW, &t);
    return 1;
  }
  int Close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    return 1;
  }
  int IsOpen() override { return fd_ >= 0 ? 1 : 0; }
  int Write(int, const char* data, int length, int* written) override {
    int done = 0;
    const auto end = SteadyMilliseconds() + 2000;
    while (fd_ >= 0 && done < length && SteadyMilliseconds() < end) {
      const ssize_t n = ::write(fd_, data + done, static_cast<size_t>(length - done));
      if (n > 0) done += static_cast<int>(n);
      else SleepMilliseconds(1);
    }
    if (written) *written = done;
    return done == length ? 1 : 0;
  }
  int Read(void* buffer, int length, int* got) override {
    const ssize_t n = fd_ >= 0 ? ::read(fd_, buffer, static_cast<size_t>(length)) : -1;
    const int count = n > 0 ? static_cast<int>(n) : 0;
    if (got) *got = count;
    return count == length ? 1 : 0;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

// A window that sleeps for real and shows nothing.
class RealHost final : public MainWindowHost {
 public:
  std::vector<std::string> boxes;
  // When above 0, every sleep lasts whole timer ticks of this many milliseconds.
  double tickMs = 0;
  std::int64_t ElapsedMilliseconds() override { return SteadyMilliseconds(); }
  void Sleep(int ms) override {
    if (tickMs <= 0 || ms <= 0) return SleepMilliseconds(ms);
    std::this_thread::sleep_for(std::chrono::microseconds(std::lround(std::ceil(ms / tickMs) * tickMs * 1000)));
  }
  void PeekMessages() override {}
  void ProcessMessages() override {}
  void ShowMessage(const char* text, const char*, MessageIcon) override { boxes.emplace_back(text); }
  void SetLabel2(const std::string&) override {}
  void SetProgress(int) override {}
  void SetControlEnabled(Control, bool) override {}
  bool IsRadioChecked(Control) override { return false; }
  void AddPortItem(const std::string&) override {}
  void SelectPortItem(int) override {}
};

double Microseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1e6 + ts.tv_nsec / 1e3;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

// Reads until a reply's NUL arrived or 2 s passed.
bool ReadReply(int fd) {
  const double end = Microseconds() + 2e6;
  while (Microseconds() < end) {
    char buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0 && std::memchr(buffer, 0, static_cast<size_t>(n)) != nullptr) return true;
  }
  return false;
}

// The three round trips of a Get made on a plain TCP connection to the same printer.
double RawTcpRoundTrips(const sockaddr_in& to) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const double start = Microseconds();
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    ::close(fd);
    return -1;
  }
  fcntl(fd, F_SETFL, O_NONBLOCK);
  for (const auto& command : {sim::wire::Identify(), sim::wire::FirmwareQuery(), sim::wire::ModelSettingQuery()}) {
    if (::write(fd, command.data(), command.size()) != static_cast<ssize_t>(command.size()) || !ReadReply(fd)) break;
  }
  const double took = Microseconds() - start;
  ::close(fd);
  return took / 1000.0;
}

// The three round trips of a Get made straight on the tty: command out, reply in up
// to its NUL, polling without pauses.
double RawRoundTrips(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  const std::string commands[] = {sim::wire::Identify(), sim::wire::FirmwareQuery(), sim::wire::ModelSettingQuery()};
  const double start = Microseconds();
  for (const auto& command : commands) {
    if (::write(fd, command.data(), command.size()) != static_cast<ssize_t>(command.size())) break;
    const double end = Microseconds() + 2e6;
    for (bool done = false; !done && Microseconds() < end;) {
      char buffer[256];
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      done = n > 0 && std::memchr(buffer, 0, static_cast<size_t>(n)) != nullptr;
    }
  }
  const double took = Microseconds() - start;
  ::close(fd);
  return took / 1000.0;
}

// One Get through the window's logic: how long it took, in ms; counts it in `failures`
// unless it ended with the one success box.
double TimedGet(MainWindowLogic& logic, RealHost& host, int& failures) {
  host.boxes.clear();
  const double start = Microseconds();
  logic.GetButtonClick();
  const double ms = (Microseconds() - start) / 1000.0;
  if (host.boxes.size() != 1 || host.boxes[0] != MessageGetSucceeded) ++failures;
  return ms;
}

void Row(const char* figure, const std::string& measured, const std::string& reference) {
  std::printf("%s\t%s\t%s\n", figure, measured.c_str(), reference.c_str());
}

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const int gets = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;

  sim::RealClock clock;
  sim::PrinterEngine printer{clock};
  sim::PtyPrinterServer server{printer};
  std::string error;
  if (!sim::PtyPrinterServer::Available() || !server.Start(&error)) {
    Row("Get over a pty", "n/a (" + error + ")", "");
    return 0;
  }
  const std::string path = server.SlavePath();

  RealHost host;
  PortTable table{[&](int kind) -> std::unique_ptr<TQXCCC> {
    if (kind == KindSerial) return std::make_unique<TPtyPort>(kind, path);
    return std::make_unique<TPlaceholderPort>(kind, kind);
  }};
  MainWindowLogic logic{table, host};
  logic.CreatePorts(nullptr);
  PortSettings settings = logic.CurrentSettings();
  settings.PortType = KindSerial;
  logic.AddPortEntry("COM1", settings);
  logic.SelectPort(0);
  logic.PortComboBoxChange();

  std::vector<double> getMs, floorMs;
  int failed = 0;
  for (int i = 0; i < gets; ++i) {
    getMs.push_back(TimedGet(logic, host, failed));
    floorMs.push_back(RawRoundTrips(path));
    printer.ClearLog();
  }
  Row("Get over a pty (median ms)", Format("%.2f", Median(getMs)) + (failed ? " (" + std::to_string(failed) + " failed)" : ""),
      Format("%.2f raw 3 round trips", Median(floorMs)));

  // The same Get from a printer that takes 2 ms to answer and sends a byte a
  // millisecond (about 9600 baud), so that the exchange polls and sleeps: with 1 ms
  // sleeps, and with the whole 15.6 ms ticks of a Windows process on the default timer.
  sim::ReplyFault paced;
  paced.DelayMs = 2;
  paced.ByteDelayMs = 1;
  printer.SetFaultForAll(paced);
  const auto pacedGets = [&](double tickMs, int& failures) {
    host.tickMs = tickMs;
    std::vector<double> ms;
    for (int i = 0; i < std::max(1, std::min(gets, 20)); ++i) {
      ms.push_back(TimedGet(logic, host, failures));
      printer.ClearLog();
    }
    host.tickMs = 0;
    return Median(ms);
  };
  int pacedFailed = 0;
  const double fine = pacedGets(0, pacedFailed);
  const double coarse = pacedGets(15.625, pacedFailed);
  printer.ClearFaults();
  Row("Get over a pty, 15.6 ms sleep ticks (median ms)",
      Format("%.2f", coarse) + (pacedFailed ? " (" + std::to_string(pacedFailed) + " failed)" : ""),
      Format("%.2f", fine) + " with 1 ms sleeps, same printer answering in 2 ms at a byte a ms");

  // Idle: the ports exist, nothing runs. The simulated printer's thread stops first:
  // it is not the utility's.
  server.Stop();
  // Get over TCP against the same printer on its own loopback address. The kind sleeps
  // 100 ms after it opens and before it closes; the floor is those plus the round trips.
  {
    sim::SimulatedPrinterOptions options;
    options.Address = {127, 12, 0, 1};
    sim::SimulatedPrinter netPrinter(options);
    std::string netError;
    if (!netPrinter.Start(&netError)) {
      Row("Get over TCP (median ms)", "n/a (" + netError + ")", "");
    } else {
      RealHost netHost;
      PortTable netTable{[&](int kind) -> std::unique_ptr<TQXCCC> {
        if (kind == KindNetwork) return std::make_unique<TQXNET>(kind);
        return std::make_unique<TPlaceholderPort>(kind, kind);
      }};
      MainWindowLogic netLogic{netTable, netHost};
      netLogic.CreatePorts(nullptr);
      PortSettings net = netLogic.CurrentSettings();
      net.PortType = KindNetwork;
      const std::uint8_t ip[4] = {127, 12, 0, 1};
      std::copy(ip, ip + 4, net.IpAddress);
      netLogic.AddPortEntry("127.12.0.1", net);
      netLogic.SelectPort(0);
      netLogic.PortComboBoxChange();
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(9100);
      to.sin_addr.s_addr = htonl(0x7F0C0001);
      std::vector<double> tcpMs, rawMs;
      int tcpFailed = 0;
      const int tcpGets = std::max(1, std::min(gets, 10));  // each costs the two settle sleeps
      for (int i = 0; i < tcpGets; ++i) {
        tcpMs.push_back(TimedGet(netLogic, netHost, tcpFailed));
        rawMs.push_back(RawTcpRoundTrips(to));
        netPrinter.Printer().ClearLog();
      }
      Row("Get over TCP (median ms)",
          Format("%.2f", Median(tcpMs)) + (tcpFailed ? " (" + std::to_string(tcpFailed) + " failed)" : ""),
          Format("%.2f = 200 ms settle sleeps + ", 200 + Median(rawMs)) + Format("%.2f raw 3 round trips", Median(rawMs)));
      netLogic.DestroyPorts();
    }
  }

  const double cpuStart = CpuSeconds();
  const double wallStart = Microseconds();
  SleepMilliseconds(2000);
  const double idle = (CpuSeconds() - cpuStart) / ((Microseconds() - wallStart) / 1e6) * 100.0;
  Row("Idle CPU of the exchange process (%)", Format("%.3f", idle), "0");

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  Row("Peak memory of the exchange process (MB)", Format("%.1f", usage.ru_maxrss / 1024.0), "");

  logic.DestroyPorts();
  return 0;
}
