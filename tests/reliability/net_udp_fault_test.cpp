// Faults on the network kind's status channel (UDP 3289), end to end through the main
// window's logic: a printer that answers every request twice, one whose answer to the
// previous request comes in again after the next request, and a stranger on another
// loopback address spraying garbage, cut-off packets and packets with the wrong magic
// at the port's status socket just before each answer. The port must still open, Get
// must still end with its right message box, and nothing may hang.
//
// The datagram side of the printer is served here (the engine answers, this test
// decides what goes on the wire); its TCP side is the simulated printer's own.

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "support/exchange_rigs.h"

namespace qx {
namespace {

using sim::Bytes;

constexpr Ipv4Address PrinterAddress{127, 13, 1, 1};
constexpr Ipv4Address StrangerAddress{127, 13, 1, 2};

enum class Wire {
  Normal,
  Twice,        // every answer sent twice
  StaleFirst,   // the previous request's answers again, then this one's
  StaleAfter,   // this request's answers, then the previous request's again
};

enum class Spray { None, Garbage, Truncated, WrongMagic };

// The printer's datagram interface with a misbehaving wire, and the stranger.
class FaultyZemakWire {
 public:
  FaultyZemakWire(sim::ZemakResponder& responder) : responder_(responder) {}
  ~FaultyZemakWire() { Stop(); }

  // Under Wine port 3289 is taken on every address: another program's printer may
  // hold it for a moment, so the bind is tried for a while.
  bool Start(std::string& error) {
    for (int tries = 0;; ++tries) {
      socket_ = Socket::Udp();
      if (socket_.Valid() && Bind(socket_.Handle(), {PrinterAddress, ZemakPort}) == 0) break;
      if (tries == 50) {
        error = "cannot bind udp 3289 (" + std::to_string(SocketError()) + ")";
        return false;
      }
      SleepMilliseconds(100);
    }
    stranger_ = Socket::Udp();
    if (!stranger_.Valid() || Bind(stranger_.Handle(), {StrangerAddress, 0}) != 0) {
      error = "cannot bind the stranger's socket (" + std::to_string(SocketError()) + ")";
      return false;
    }
    thread_ = std::thread([this] { Run(); });
    return true;
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  std::atomic<Wire> wire{Wire::Normal};
  std::atomic<Spray> spray{Spray::None};
  std::atomic<int> requests{0};
  std::atomic<int> sprayed{0};

 private:
  void Run() {
    std::vector<char> buffer(65536);
    std::vector<sim::Datagram> previous;
    while (!stop_) {
      if (WaitReadable(socket_.Handle(), 20) <= 0) continue;
      Ipv4Endpoint from;
      const int n = ReceiveFrom(socket_.Handle(), buffer.data(), static_cast<int>(buffer.size()), &from);
      if (n <= 0) continue;
      ++requests;
      SprayAt(from, std::string_view(buffer.data(), static_cast<std::size_t>(n)));
      responder_.Receive(sim::Peer{from.Address, from.Port}, std::string_view(buffer.data(), static_cast<std::size_t>(n)));
      std::vector<sim::Datagram> now = responder_.TakeDue();
      const Wire w = wire.load();
      if (w == Wire::StaleFirst) SendAll(previous);
      SendAll(now);
      if (w == Wire::Twice) SendAll(now);
      if (w == Wire::StaleAfter) SendAll(previous);
      if (!now.empty()) previous = std::move(now);
    }
  }

  void SendAll(const std::vector<sim::Datagram>& datagrams) {
    for (const sim::Datagram& d : datagrams) {
      if (d.To.Port == 0 || d.To.Address == BroadcastAddress) continue;
      SendTo(socket_.Handle(), d.Data.data(), static_cast<int>(d.Data.size()), {d.To.Address, d.To.Port});
    }
  }

  // What the stranger sends to the status socket ahead of the answer to `request`.
  void SprayAt(const Ipv4Endpoint& to, std::string_view request) {
    const Spray s = spray.load();
    if (s == Spray::None) return;
    std::vector<Bytes> out;
    // The answer the printer would give, as the base of the spoilt packets.
    Bytes answer = sim::ZemakResponder::Packet(request.size() > 5 ? static_cast<char>(request[5] | 0x20) : 'q',
                                               request.size() > 6 ? static_cast<std::uint8_t>(request[6]) : 3, 0,
                                               0x0020, 0, std::string(1, '\0'));
    if (request.size() >= 10) {
      answer[8] = static_cast<std::uint8_t>(request[8]);
      answer[9] = static_cast<std::uint8_t>(request[9]);
    }
    switch (s) {
      case Spray::Garbage:
        for (int i = 0; i < 3; ++i) {
          Bytes junk(1 + random_() % 700, '\0');
          for (auto& b : junk) b = static_cast<char>(random_());
          out.push_back(std::move(junk));
        }
        out.push_back(Bytes{});
        break;
      case Spray::Truncated:
        // Cut inside the header, and a header announcing more data than follows.
        out.push_back(Bytes(answer.begin(), answer.begin() + 9));
        out.push_back(Bytes(answer.begin(), answer.begin() + 5));
        {
          Bytes longer = answer;
          longer[12] = 0x01;
          longer[13] = 0x00;
          out.push_back(std::move(longer));
        }
        break;
      case Spray::WrongMagic: {
        Bytes wrong = answer;
        wrong[4] = 'X';
        out.push_back(wrong);
        wrong = answer;
        wrong[0] = 'z';
        out.push_back(wrong);
        out.push_back(Bytes{'Z', 'E', 'M', 'Z', 'E', 'M', 'A'});
        break;
      }
      case Spray::None: break;
    }
    for (const Bytes& b : out) {
      SendTo(stranger_.Handle(), b.data(), static_cast<int>(b.size()), to);
      ++sprayed;
    }
  }

  sim::ZemakResponder& responder_;
  Socket socket_;
  Socket stranger_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::mt19937 random_{1234};
};

const std::string GetSucceeded = "box Information (information icon): " + std::string(MessageGetSucceeded);

class ReliabilityNetUdpFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(rig.Problem(), "");
    std::string error;
    ASSERT_TRUE(wire.Start(error)) << error;
    logic.CreatePorts(nullptr);
    rig.Select(logic);
  }
  void TearDown() override {
    logic.DestroyPorts();
    wire.Stop();
  }

  // Runs a Get and returns the wall time it took in milliseconds.
  std::int64_t TimedGet() {
    rig.host.events.clear();
    const std::int64_t start = SteadyMilliseconds();
    logic.GetButtonClick();
    return SteadyMilliseconds() - start;
  }

  // The status channel's own answers, on a port of its own.
  void ExpectStatusAnswers() {
    TQXNET port(KindNetwork, TQXNET::WindowSource{}, rig.clock);
    PortSettings settings{};
    std::copy(PrinterAddress.begin(), PrinterAddress.end(), settings.IpAddress);
    port.Configure(&settings);
    for (int round = 0; round < 3; ++round) {
      EXPECT_EQ(port.IsReady(), 1) << round;
      NetDeviceInfo info;
      ASSERT_EQ(port.GetDeviceInfo(&info), 1) << round;
      EXPECT_EQ(info.Name, "NX-L72");
      EXPECT_EQ(info.MacAddress, "02:00:00:4B:40:07");
      EXPECT_EQ(info.StatusFlag, 1);
      EXPECT_EQ(port.SetHandshakeBypass(1), 1) << round;
      EXPECT_EQ(port.SetHandshakeBypass(0), 1) << round;
      EXPECT_EQ(port.DeviceRequest(), 1) << round;
    }
    ASSERT_EQ(port.Open(), 1);
    EXPECT_EQ(port.Close(), 1);
  }

  test::NetRig rig{PrinterAddress, false};
  FaultyZemakWire wire{rig.server->Zemak()};
  MainWindowLogic logic{rig.Table(), rig.host};
};

// Get: two settle pauses, a handful of exchanges and loopback's own time, no wait run out.
constexpr std::int64_t Bound = 3000;

// Answers sent twice or late, and a stranger's datagrams ahead of each answer.
TEST_F(ReliabilityNetUdpFaults, RepeatedLateAndForeignDatagramsAreNotTakenForTheAnswer) {
  const std::pair<Wire, Spray> faults[] = {{Wire::Twice, Spray::None},     {Wire::StaleFirst, Spray::None},
                                           {Wire::StaleAfter, Spray::None}, {Wire::Normal, Spray::Garbage},
                                           {Wire::Normal, Spray::Truncated}, {Wire::Normal, Spray::WrongMagic}};
  for (const auto& [w, s] : faults) {
    SCOPED_TRACE(std::to_string(static_cast<int>(w)) + " " + std::to_string(static_cast<int>(s)));
    wire.wire = w;
    wire.spray = s;
    const int before = wire.sprayed.load();
    ExpectStatusAnswers();
    EXPECT_LE(TimedGet(), Bound);
    EXPECT_EQ(rig.host.Boxes(), std::vector<std::string>{GetSucceeded});
    EXPECT_EQ(wire.sprayed.load() > before, s != Spray::None);
  }
}

}  // namespace
}  // namespace qx
