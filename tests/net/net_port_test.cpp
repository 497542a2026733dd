// The network kind against the simulated printer on loopback: the status probe before
// each connect, the queues of the connection, the status requests byte for byte, and
// the identification. Each fixture has its own 127.6.x.y address.

#include "port/net/net_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <string>
#include <vector>

#include "net_test_support.h"
#include "sim/engine/clock.h"
#include "sim/engine/printer_engine.h"
#include "sim/transport/simulated_printer.h"
#include "support/wait_until.h"

namespace qx {
namespace {

using sim::ZemakRequest;

PortSettings SettingsFor(const Ipv4Address& address) {
  PortSettings settings;
  settings.PortType = KindNetwork;
  for (int i = 0; i < 4; ++i) settings.IpAddress[i] = address[i];
  return settings;
}

class NetPortTest : public ::testing::Test {
 protected:
  explicit NetPortTest(Ipv4Address address, bool udp = true) : address_(address) {
    options_.Address = address;
    options_.Udp = udp;
    options_.Printer.RestartMs = 100;
  }

  void SetUp() override {
    std::string error;
    printer = std::make_unique<sim::SimulatedPrinter>(options_);
    ASSERT_TRUE(printer->Start(&error)) << error;
    port = std::make_unique<TQXNET>(KindNetwork, TQXNET::WindowSource{}, *portClock);
    const PortSettings settings = SettingsFor(address_);
    ASSERT_EQ(port->Configure(&settings), 1);
  }
  void TearDown() override {
    port.reset();
    printer.reset();
  }

  // The datagrams the printer received, in order.
  std::vector<sim::Bytes> Requests() const {
    std::vector<sim::Bytes> got;
    for (const auto& entry : printer->Zemak().Log()) {
      if (entry.Dir == sim::Direction::HostToPrinter) got.push_back(entry.Data);
    }
    return got;
  }

  Ipv4Address address_;
  sim::SimulatedPrinterOptions options_;
  test::PacedClock netClock{test::NetClockSpeed};
  Clock* portClock = &netClock;
  std::unique_ptr<sim::SimulatedPrinter> printer;
  std::unique_ptr<TQXNET> port;
};

// A fixture of its own for each loopback address 127.6.1.`host`.
template <std::uint8_t host, bool udp = true>
class NetPortAt : public NetPortTest {
 protected:
  NetPortAt() : NetPortTest({127, 6, 1, host}, udp) {}
};
using NetPortOpenTest = NetPortAt<1>;
using NetPortNoUdpTest = NetPortAt<2, false>;
using NetPortDataTest = NetPortAt<3>;
using NetPortCycleTest = NetPortAt<6>;

TEST_F(NetPortOpenTest, ProbesThenConnectsAndOpensOnlyOnce) {
  int opened = 0;
  port->Hooks.OnOpened = [&](int) { ++opened; };
  ASSERT_EQ(port->Open(), 1);
  EXPECT_EQ(port->IsOpen(), 1);
  EXPECT_NE(port->GetHandle(), InvalidSocketHandle);
  EXPECT_EQ(port->Socket(), port->GetHandle());
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(Requests(), (std::vector<sim::Bytes>{sim::ZemakResponder::RequestBytes(ZemakRequest::QueryReady)}));
  EXPECT_TRUE(test::WaitUntil([&] { return printer->Tcp()->Accepted() == 1; }));
  EXPECT_EQ(netClock.SleptMs.load(), TQXNET::SettleMs);

  EXPECT_EQ(port->Open(), 1);  // already open: no probe, no new connection
  EXPECT_EQ(printer->Zemak().RequestsReceived(ZemakRequest::QueryReady), 1);
  EXPECT_EQ(printer->Tcp()->Accepted(), 1);

  int closed = 0;
  port->Hooks.OnClosed = [&](int) { ++closed; };
  EXPECT_EQ(port->Close(), 1);
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(port->IsOpen(), 0);
  EXPECT_EQ(port->GetHandle(), InvalidSocketHandle);
  EXPECT_FALSE(port->HasWorkers());
}

TEST_F(NetPortOpenTest, NotReadyAnswerStillOpens) {
  auto config = printer->Zemak().Config();
  config.ReadyByte = 0x01;
  printer->Zemak().SetConfig(config);
  EXPECT_EQ(port->IsReady(), 0);
  EXPECT_EQ(port->Open(), 1);
}

TEST_F(NetPortNoUdpTest, NoStatusAnswerFailsEvenWithAListener) {
  const std::int64_t start = netClock.NowMilliseconds();
  EXPECT_EQ(port->Open(), 0);
  EXPECT_GE(netClock.NowMilliseconds() - start, TNetStatusChannel::ReplyWaitMs);
  EXPECT_EQ(port->IsOpen(), 0);
  EXPECT_EQ(port->GetHandle(), InvalidSocketHandle);
  EXPECT_FALSE(port->HasWorkers());
  EXPECT_EQ(printer->Tcp()->Accepted(), 0);
  EXPECT_EQ(port->IsReady(), 0);
  EXPECT_EQ(port->DeviceRequest(), 0);
  EXPECT_EQ(port->SetHandshakeBypass(1), 0);
  NetDeviceInfo info;
  EXPECT_EQ(port->GetDeviceInfo(&info), 0);
}

// A large stream, queued as the send queue's cap allows, arrives byte for byte.
TEST_F(NetPortDataTest, ALargeStreamArrivesByteForByte) {
  ASSERT_EQ(port->Open(), 1);
  int written = -1;
  std::string stream;
  for (int i = 0; stream.size() < 300000; ++i) stream += "line " + std::to_string(i) + " of the stream\n";
  std::size_t sent = 0;
  ASSERT_TRUE(test::WaitUntil([&] {
    while (sent < stream.size()) {
      const int piece = static_cast<int>(std::min<std::size_t>(1500, stream.size() - sent));
      if (port->Write(0, stream.data() + sent, piece, &written) != 1) return false;
      sent += static_cast<std::size_t>(piece);
    }
    return true;
  }, std::chrono::seconds(30)));
  const sim::Bytes expected = stream;
  ASSERT_TRUE(test::WaitUntil([&] { return printer->Printer().PrintData().size() >= expected.size(); },
                              std::chrono::seconds(30)));
  EXPECT_TRUE(printer->Printer().PrintData() == expected);
  EXPECT_EQ(port->GetOutputPending(), 0);
}

TEST(NetPortSettings, ConfigureFormatsTheAddress) {
  test::PacedClock netClock{test::NetClockSpeed};
  TQXNET port(KindNetwork, {}, netClock);
  EXPECT_STREQ(port.AddressText(), "192.168.192.168");
  PortSettings settings = SettingsFor({10, 0, 0, 200});
  settings.SyncMode = 1;
  EXPECT_EQ(port.Configure(&settings), 1);
  EXPECT_STREQ(port.AddressText(), "10.0.0.200");
  EXPECT_EQ(port.SyncMode, 1);
  settings = SettingsFor({200, 129, 255, 128});
  port.Configure(&settings);
  EXPECT_STREQ(port.AddressText(), "200.129.255.128");
  ASSERT_NE(port.StatusChannel(), nullptr);
  EXPECT_EQ(port.StatusChannel()->Address(), "200.129.255.128");
}

class NetStatusTest : public NetPortAt<4> {
 protected:
  TNetStatusChannel& Channel() { return *port->StatusChannel(); }
};

TEST_F(NetStatusTest, EveryRequestGoesOutByteForByte) {
  EXPECT_EQ(port->IsReady(), 1);
  EXPECT_EQ(port->SetHandshakeBypass(1), 1);
  EXPECT_EQ(printer->Zemak().Bypass(), 1);
  EXPECT_EQ(port->SetHandshakeBypass(0), 1);
  EXPECT_EQ(port->DeviceRequest(), 1);
  NetDeviceInfo info;
  EXPECT_EQ(port->GetDeviceInfo(&info), 1);
  using R = sim::ZemakResponder;
  EXPECT_EQ(Requests(), (std::vector<sim::Bytes>{
                            R::RequestBytes(ZemakRequest::QueryReady),
                            R::RequestBytes(ZemakRequest::SetBypass, 1),
                            R::RequestBytes(ZemakRequest::SetBypass, 0),
                            R::RequestBytes(ZemakRequest::SendDeviceRequest),
                            R::RequestBytes(ZemakRequest::QueryIdentity),
                            R::RequestBytes(ZemakRequest::QueryBasicStatus),
                        }));
  // And the table's own bytes, independent of the simulator.
  EXPECT_EQ(Requests()[1], sim::Bytes("ZEMAKC\x03\x00\x00\x15\x00\x00\x00\x01\x01", 15));
  EXPECT_EQ(Requests()[4], sim::Bytes("ZEMAKQ\x00\x00\x00\x00\x00\x00\x00\x00", 14));
}

// An answer with another value, or with a failure code, is a failed request.
TEST_F(NetStatusTest, AnswersWithAnotherValueOrAFailureCodeFail) {
  sim::DatagramFault otherValue;
  otherValue.Data = sim::Bytes(1, '\0');
  printer->Zemak().SetFault(ZemakRequest::SetBypass, otherValue);
  EXPECT_EQ(port->SetHandshakeBypass(1), 0);
  sim::DatagramFault failure;
  failure.ResultCode = 0x0001;
  printer->Zemak().SetFault(ZemakRequest::QueryIdentity, failure);
  NetDeviceInfo info;
  EXPECT_EQ(port->GetDeviceInfo(&info), 0);
}

TEST_F(NetStatusTest, SplitAndJoinedDatagramsAreParsedAsPackets) {
  sim::DatagramFault split;
  split.SplitAt = {3, 9, 15};
  printer->Zemak().SetFault(ZemakRequest::QueryReady, split);
  EXPECT_EQ(Channel().QueryReady(), 1);

  // A basic status reply ahead of the ready reply in one datagram: both dispatched,
  // so the basic status event is set too (a later request resets it first).
  sim::DatagramFault joined;
  joined.Before = sim::ZemakResponder::Packet('q', 3, 0, 0x0000, 0, sim::Bytes(16, '\x05'));
  // Not a packet ("not ready" if it were one): the second Z only resets.
  joined.Before += sim::Bytes("ZZEMAKq\x03\x00\x00\x20\x00\x00\x00\x01\x01", 16);
  joined.Before += sim::ZemakResponder::Packet('q', 4, 0, 0x0020, 0, sim::Bytes(1, '\x01'));  // target 4: dropped
  printer->Zemak().SetFault(ZemakRequest::QueryReady, joined);
  EXPECT_EQ(Channel().QueryReady(), 1);
}

TEST_F(NetStatusTest, EmptyAndOversizedRepliesKeepTheirLength) {
  std::uint8_t data[ZemakDataCapacity];
  int length = -2;
  sim::DatagramFault empty;
  empty.Data = sim::Bytes();
  printer->Zemak().SetFault(ZemakRequest::QueryBasicStatus, empty);
  EXPECT_EQ(Channel().QueryBasicStatus(data, &length), 1);
  EXPECT_EQ(length, 0);

  sim::DatagramFault oversized;
  oversized.Data = sim::Bytes(600, '\x7F');  // more than the parser's buffer
  printer->Zemak().SetFault(ZemakRequest::QueryIdentity, oversized);
  std::memset(data, 0, sizeof data);
  EXPECT_EQ(Channel().QueryIdentity(data, &length), 0);
  EXPECT_EQ(length, 600);
  EXPECT_EQ(data[0], 0);  // no data handed out
  // The parser is back in step with the next packet.
  EXPECT_EQ(Channel().QueryReady(), 1);
}

TEST_F(NetStatusTest, IdentificationOfAPlainInterface) {
  auto config = printer->Zemak().Config();
  config.HardMajor = 0x01;
  config.HardMinor = 0x90;
  config.SoftMajor = 0x0A;
  config.SoftMinor = 0x05;
  config.BasicStatus = 0x05;
  printer->Zemak().SetConfig(config);
  NetDeviceInfo info;
  ASSERT_EQ(port->GetDeviceInfo(&info), 1);
  EXPECT_EQ(info.Name, "NX-L72");
  EXPECT_EQ(info.HardVersion, "1.90");
  EXPECT_EQ(info.HardVersionNumber, 400);
  EXPECT_EQ(info.SoftVersion, "A.05");
  EXPECT_EQ(info.SoftVersionNumber, 0x0A05);
  EXPECT_EQ(info.MacAddress, "02:00:00:4B:40:07");
  EXPECT_EQ(info.ModelCode, "L71");
  EXPECT_EQ(info.LegacyReply, 1);
  EXPECT_EQ(info.StatusFlag, 1);

  config.HardMajor = 0x03;
  config.BasicStatus = 0x06;
  printer->Zemak().SetConfig(config);
  ASSERT_EQ(port->GetDeviceInfo(&info), 1);
  EXPECT_EQ(info.ModelCode, "L7X");
  EXPECT_EQ(info.StatusFlag, 0);
}

TEST_F(NetStatusTest, IdentificationOfAnExtendedInterface) {
  auto config = sim::ZemakConfig::Extended();
  config.ExtendedStatus = 0x04;
  printer->Zemak().SetConfig(config);
  NetDeviceInfo info;
  ASSERT_EQ(port->GetDeviceInfo(&info), 1);
  EXPECT_EQ(info.LegacyReply, 0);
  EXPECT_EQ(info.Name, "NX-G72");
  EXPECT_EQ(info.ModelCode, "G72");
  EXPECT_EQ(info.StatusFlag, 1);
  EXPECT_EQ(printer->Zemak().RequestsReceived(ZemakRequest::QueryExtendedStatus), 1);

  config.ModelPrefix = "KOLV";
  printer->Zemak().SetConfig(config);
  ASSERT_EQ(port->GetDeviceInfo(&info), 1);
  EXPECT_EQ(info.ModelCode, "V45");
  config.ModelPrefix = "ABCD";
  printer->Zemak().SetConfig(config);
  ASSERT_EQ(port->GetDeviceInfo(&info), 1);
  EXPECT_EQ(info.ModelCode, "G7X");

  // Byte 61 other than 4: treated as plain, empty texts, basic status asked instead.
  config.Byte61 = 0x0C;
  printer->Zemak().SetConfig(config);
  info.ModelCode = "kept";
  ASSERT_EQ(port->GetDeviceInfo(&info), 1);
  EXPECT_EQ(info.LegacyReply, 1);
  EXPECT_EQ(info.Name, "");
  EXPECT_EQ(info.HardVersion, "");
  EXPECT_EQ(info.ModelCode, "kept");
  EXPECT_EQ(printer->Zemak().RequestsReceived(ZemakRequest::QueryBasicStatus), 1);
}

// The status channel and the simulated printer on one fake clock that only the test
// moves: a request that gets no answer ends when the test moves the clock past its wait.
class NetStatusFakeClockTest : public NetPortTest {
 protected:
  NetStatusFakeClockTest() : NetPortTest({127, 6, 1, 5}) {
    options_.Tcp = false;
    options_.TimeSource = &clock;
    portClock = &clock;
  }

  int Received() const { return printer->Zemak().RequestsReceived(ZemakRequest::QueryReady); }

  // QueryReady on a thread of its own. Once the printer has it, the clock moves by
  // `advance`; an answer that does not come within a few real seconds ends as a
  // time-out (the clock moves past the wait) rather than hanging the test.
  int QueryReady(std::int64_t advance = 0) {
    const int before = Received();
    std::future<int> answer = std::async(std::launch::async, [this] { return port->StatusChannel()->QueryReady(); });
    EXPECT_TRUE(test::WaitUntil([&] { return Received() > before; }));
    if (advance > 0) clock.Advance(advance);
    if (answer.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
      clock.Advance(TNetStatusChannel::ReplyWaitMs);
    }
    return answer.get();
  }

  sim::FakeClock clock{1000};
};

// The answer to an earlier request that comes only after the next request of the same
// kind was sent is that request's answer: the channel cannot tell them apart, and takes
// the first answer that arrives after its own request went out.
TEST_F(NetStatusFakeClockTest, ALateAnswerIsTakenAsTheNextRequestsAnswer) {
  sim::DatagramFault late;
  late.DelayMs = TNetStatusChannel::ReplyWaitMs + 500;
  late.Data = sim::Bytes(1, '\x01');  // "not ready", so it can be told apart
  late.Count = 1;
  printer->Zemak().SetFault(ZemakRequest::QueryReady, late);
  EXPECT_EQ(QueryReady(TNetStatusChannel::ReplyWaitMs), -1);
  // The second request goes out before the late answer; both answers then come, the
  // late one first (the printer answers in order).
  EXPECT_EQ(QueryReady(500), 0);
  // The second request's own answer was not taken; the next request starts afresh.
  EXPECT_EQ(QueryReady(), 1);
  EXPECT_EQ(Received(), 3);
}

// A packet announcing more data than it carries: the bytes of the sender's later
// datagrams are not taken for its data.
TEST_F(NetStatusFakeClockTest, AnAnswerAnnouncingMoreThanItCarriesSwallowsNoLaterAnswer) {
  sim::DatagramFault longer;
  longer.AnnouncedLength = 0xFFFF;
  longer.Count = 1;
  printer->Zemak().SetFault(ZemakRequest::QueryReady, longer);
  EXPECT_EQ(QueryReady(TNetStatusChannel::ReplyWaitMs), -1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(QueryReady(), 1) << i;
}

TEST_F(NetStatusFakeClockTest, ThePacketInProgressIsAbandonedAtTheMagicOrAfterASilence) {
  // Behind the answer, in the same datagram, the start of a packet announcing 65535
  // data bytes: the parser is left inside it.
  sim::DatagramFault trailer;
  trailer.After = sim::ZemakResponder::Packet('q', 3, 0, 0x0020, 0, sim::Bytes(1, '\0'));
  trailer.After[12] = '\xFF';
  trailer.After[13] = '\xFF';
  trailer.Count = 1;
  printer->Zemak().SetFault(ZemakRequest::QueryReady, trailer);
  EXPECT_EQ(QueryReady(), 1);
  // The next answer comes at once, at the start of its datagram.
  EXPECT_EQ(QueryReady(), 1);

  // Again, and the next answer comes behind a byte that is no magic, in the same
  // datagram, after the sender was silent for the longest reply wait.
  printer->Zemak().SetFault(ZemakRequest::QueryReady, trailer);
  EXPECT_EQ(QueryReady(), 1);
  sim::DatagramFault junkFirst;
  junkFirst.Before = sim::Bytes(1, '\0');
  junkFirst.Count = 1;
  printer->Zemak().SetFault(ZemakRequest::QueryReady, junkFirst);
  clock.Advance(TNetStatusChannel::PacketGapMs);
  EXPECT_EQ(QueryReady(), 1);
}

// Many openings while data flows both ways: the workers start and stop cleanly each
// time (run under ThreadSanitizer in the native-tsan suite).
TEST_F(NetPortCycleTest, OpenCloseCyclesWhileDataFlows) {
  std::atomic<int> arrived{0};
  port->Hooks.OnDataArrived = [&](int, int) {
    ++arrived;
    return 1;
  };
  const sim::Bytes identify = sim::wire::Identify();
  const std::string text(700, 'T');
  long long received = 0;
  for (int cycle = 0; cycle < 15; ++cycle) {
    ASSERT_EQ(port->Open(), 1) << cycle;
    int written = 0;
    for (int i = 0; i < 4; ++i) {
      port->Write(0, identify.data(), static_cast<int>(identify.size()), &written);
      port->Write(0, text.data(), static_cast<int>(text.size()), &written);
      char buffer[256];
      int got = 0;
      port->Read(buffer, sizeof buffer, &got);
      received += got;
      SleepMilliseconds(1);
    }
    if (cycle % 3 == 0) port->ClearOutput();
    ASSERT_EQ(port->Close(), 1);
    EXPECT_FALSE(port->HasWorkers());
  }
  EXPECT_GT(printer->Printer().CommandsReceived(sim::Command::Identify), 0);
  EXPECT_GT(arrived.load(), 0);
  EXPECT_GT(received, 0);
}

TEST(ZemakParserTest, BytesOutsideTheFormatFallBackToIdle) {
  ZemakParser parser;
  auto feed = [&](const sim::Bytes& bytes) {
    int complete = 0;
    for (char c : bytes) complete += parser.Feed(static_cast<std::uint8_t>(c)) ? 1 : 0;
    return complete;
  };
  EXPECT_EQ(feed("ZZEMAKq\x03\x00\x00\x20\x00\x00\x00\x00"), 0);
  EXPECT_EQ(parser.State(), 0);
  EXPECT_EQ(feed(sim::Bytes("ZEMAKx\x03", 7)), 0);  // unknown letter
  EXPECT_EQ(feed(sim::Bytes("ZEMAKq\x04", 7)), 0);  // target type 4
  EXPECT_EQ(parser.State(), 0);
  // A packet across two feeds, with data length 0.
  EXPECT_EQ(feed(sim::Bytes("ZEMAKc\x03\x00", 8)), 0);
  EXPECT_EQ(feed(sim::Bytes("\x00\x15\x00\x00\x00\x00", 6)), 1);
  EXPECT_EQ(parser.Current().DataLength, 0);
  EXPECT_EQ(ZemakParser::DispatchNumber(parser.Current()), RequestBypass);
  // More data than the buffer: counted through, stored up to 512, then complete.
  sim::Bytes big = sim::ZemakResponder::Packet('q', 0, 0, 0, 0, sim::Bytes(1000, 'x'));
  EXPECT_EQ(feed(big), 1);
  EXPECT_EQ(parser.Current().DataLength, 1000);
  EXPECT_EQ(parser.Current().Data[511], 'x');
}

}  // namespace
}  // namespace qx
