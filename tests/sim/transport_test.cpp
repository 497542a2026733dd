#include "sim/transport/simulated_printer.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "support/wait_until.h"
#include "wire_client.h"

namespace qx::sim {
namespace {

using qx::test::WaitUntil;
using namespace test;

// The network interface on any free port: under Wine a fixed UDP port on 127.x.y.z is
// held machine-wide (see udp_server.h), and these clients can aim at any port.
SimulatedPrinterOptions At(Ipv4Address address, Clock* clock = nullptr) {
  SimulatedPrinterOptions options;
  options.Address = address;
  options.UdpPort = 0;
  options.TimeSource = clock;
  return options;
}

// Starts `printer`, saying why it could not.
::testing::AssertionResult Started(SimulatedPrinter& printer) {
  std::string error;
  if (printer.Start(&error)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << error;
}

TEST(SimulatedPrinterTcp, ClientGetsTheExactReplies) {
  SimulatedPrinter printer(At({127, 1, 1, 1}));
  ASSERT_TRUE(Started(printer));
  TcpClient host;
  ASSERT_TRUE(host.Connect({{127, 1, 1, 1}, 9100}));
  EXPECT_TRUE(Answers(host, Identify, IdentifyReply));
  EXPECT_TRUE(Answers(host, Firmware + Query + Enter, FirmwareReply + QueryReply('0') + EnterReply));
  ASSERT_TRUE(host.Send(Bytes("QX-K40VII Setting Utility Test Print.\n", 38) + '\0'));
  EXPECT_TRUE(WaitUntil([&] { return printer.Printer().PrintedLines().size() == 1; }));
  EXPECT_EQ(printer.Printer().PrintedLines()[0], "QX-K40VII Setting Utility Test Print.");
  EXPECT_EQ(printer.Tcp()->Accepted(), 1);
}

TEST(SimulatedPrinterUdp, RepliesGoBackToTheSendersPort) {
  SimulatedPrinter printer(At({127, 1, 1, 2}));
  ASSERT_TRUE(Started(printer));
  UdpClient host;
  ASSERT_TRUE(host.Open({{127, 1, 1, 102}, 0}));
  const Ipv4Endpoint at = printer.UdpEndpoint();
  ASSERT_EQ(at.Address, (Ipv4Address{127, 1, 1, 2}));
  ASSERT_NE(at.Port, 0);
  Ipv4Endpoint from;
  Bytes reply = host.Ask(QueryReady, at, &from);
  ASSERT_TRUE(SameBytes(QueryReadyReply, reply));
#ifndef _WIN32
  EXPECT_EQ(from.Address, (Ipv4Address{127, 1, 1, 2}));
#else
  EXPECT_EQ(from.Address[0], 127);  // Wine sends from 127.0.0.1 (see udp_server.h)
#endif
  EXPECT_EQ(from.Port, at.Port);
  // Every request of the protocol and the search.
  for (int r = 0; r < ZemakRequestKinds; ++r) {
    const auto request = static_cast<ZemakRequest>(r);
    reply = host.Ask(ZemakResponder::RequestBytes(request, 1), at);
    const Bytes data = request == ZemakRequest::SetBypass ? B({0x01}) : printer.Zemak().ReplyData(request);
    ASSERT_EQ(reply.size(), 14 + data.size()) << ZemakRequestName(request);
    EXPECT_TRUE(SameBytes(data, reply.substr(14))) << ZemakRequestName(request);
  }
  const std::vector<ZemakLogEntry> log = printer.Zemak().Log();
  ASSERT_FALSE(log.empty());
#ifndef _WIN32
  EXPECT_EQ(log[0].With, (Peer{{127, 1, 1, 102}, host.Local().Port}));
#else
  EXPECT_EQ(log[0].With.Port, host.Local().Port);  // Wine sends from 127.0.0.1
#endif
}

TEST(SimulatedPrinterUdp, SplitRepliesArriveAsSeparateDatagrams) {
  SimulatedPrinter printer(At({127, 1, 1, 3}));
  ASSERT_TRUE(Started(printer));
  printer.Zemak().SetFault(ZemakRequest::QueryReady, With(&DatagramFault::SplitAt, std::vector<int>{5}));
  UdpClient host;
  ASSERT_TRUE(host.Open({{127, 1, 1, 103}, 0}));
  ASSERT_TRUE(host.SendTo(QueryReady, printer.UdpEndpoint()));
  Bytes first, second;
  ASSERT_TRUE(host.Receive(first));
  ASSERT_TRUE(host.Receive(second));
  EXPECT_TRUE(SameBytes(QueryReadyReply.substr(0, 5), first));
  EXPECT_TRUE(SameBytes(QueryReadyReply.substr(5), second));
}

TEST(SimulatedPrinterRestart, PortClosedAndSilentUntilThePrinterIsBack) {
  FakeClock clock;
  SimulatedPrinter printer(At({127, 1, 1, 4}, &clock));
  printer.Printer().SetRestartMs(40000);
  ASSERT_TRUE(Started(printer));
  const Ipv4Endpoint tcp{{127, 1, 1, 4}, 9100};
  const Ipv4Endpoint udp = printer.UdpEndpoint();
  TcpClient host;
  ASSERT_TRUE(host.Connect(tcp));
  EXPECT_TRUE(Answers(host, Enter, EnterReply));
  ASSERT_TRUE(host.Send(Write(0x02) + Leave));
  EXPECT_TRUE(host.ClosedByPeer());
  ASSERT_TRUE(WaitUntil([&] { return !printer.Tcp()->Listening(); }));
  TcpClient refused;
  EXPECT_FALSE(refused.Connect(tcp));
  UdpClient status;
  ASSERT_TRUE(status.Open({{127, 1, 1, 104}, 0}));
  ASSERT_TRUE(status.SendTo(QueryReady, udp));
  Bytes reply;
  EXPECT_FALSE(status.Receive(reply, nullptr, 300));

  clock.Advance(40000);
  ASSERT_TRUE(WaitUntil([&] { return printer.Tcp()->Listening(); }));
  TcpClient again;
  ASSERT_TRUE(again.Connect(tcp));
  EXPECT_TRUE(Answers(again, Query, QueryReply('2')));
  EXPECT_TRUE(SameBytes(QueryReadyReply, status.Ask(QueryReady, udp)));
}

TEST(SimulatedPrinterTcp, DisconnectMidReplyDeliversTheBytesBeforeTheCut) {
  SimulatedPrinter printer(At({127, 1, 1, 5}));
  ASSERT_TRUE(Started(printer));
  printer.Printer().SetFault(Command::Identify, With(&ReplyFault::DisconnectAfter, 5));
  TcpClient host;
  ASSERT_TRUE(host.Connect({{127, 1, 1, 5}, 9100}));
  ASSERT_TRUE(host.Send(Identify));
  EXPECT_TRUE(SameBytes(IdentifyReply.substr(0, 5), host.Read(IdentifyReply.size())));
  EXPECT_TRUE(host.ClosedByPeer());
  // The printer itself stays reachable for a new connection.
  TcpClient next;
  ASSERT_TRUE(next.Connect({{127, 1, 1, 5}, 9100}));
  printer.Printer().ClearFaults();
  EXPECT_TRUE(Answers(next, Identify, IdentifyReply));
}

TEST(SimulatedPrinterTcp, SlowBytesKeepTheirPace) {
  SimulatedPrinter printer(At({127, 1, 1, 6}));
  ASSERT_TRUE(Started(printer));
  printer.Printer().SetFault(Command::Firmware, With(&ReplyFault::DelayMs, 100, &ReplyFault::ByteDelayMs, 30));
  TcpClient host;
  ASSERT_TRUE(host.Connect({{127, 1, 1, 6}, 9100}));
  ASSERT_TRUE(host.Send(Firmware));
  EXPECT_TRUE(host.Read(1, 50).empty());  // nothing yet
  EXPECT_TRUE(SameBytes(FirmwareReply, host.Read(FirmwareReply.size())));
}

TEST(SimulatedPrinterServers, AnAddressInUseIsReportedAndStopIsPrompt) {
  SimulatedPrinter first(At({127, 1, 1, 7}));
  ASSERT_TRUE(Started(first));
  SimulatedPrinterOptions same = At({127, 1, 1, 7});
  same.Udp = false;
  SimulatedPrinter second(same);
  std::string error;
  EXPECT_FALSE(second.Start(&error));
  EXPECT_NE(error.find("tcp 127.1.1.7:9100"), std::string::npos) << error;

  TcpClient host;
  ASSERT_TRUE(host.Connect({{127, 1, 1, 7}, 9100}));
  ASSERT_TRUE(WaitUntil([&] { return first.Tcp()->Connections() == 1; }));
  const std::int64_t before = SteadyMilliseconds();
  first.Stop();
  EXPECT_LT(SteadyMilliseconds() - before, 2000);
  EXPECT_TRUE(host.ClosedByPeer());
  TcpClient late;
  EXPECT_FALSE(late.Connect({{127, 1, 1, 7}, 9100}));
}

TEST(SimulatedPrinterServers, OnlyTheAskedServersRunOnTheirPorts) {
  SimulatedPrinterOptions options = At({127, 1, 1, 8});
  options.Udp = false;
  options.TcpPort = 0;  // any free port
  SimulatedPrinter printer(options);
  ASSERT_TRUE(Started(printer));
  EXPECT_EQ(printer.Udp(), nullptr);
  ASSERT_NE(printer.TcpEndpoint().Port, 0);
  TcpClient host;
  ASSERT_TRUE(host.Connect(printer.TcpEndpoint()));
  EXPECT_TRUE(Answers(host, Identify, IdentifyReply));
}

#ifndef _WIN32
TEST(SimulatedPrinterSerial, PtyCarriesTheExactReplies) {
  FakeClock clock;
  SimulatedPrinterOptions options = At({127, 1, 1, 9}, &clock);
  options.Tcp = options.Udp = false;
  options.Serial = true;
  options.SerialLink = ::testing::TempDir() + "qxsim-serial-link";
  SimulatedPrinter printer(options);
  printer.Printer().SetRestartMs(1000);
  ASSERT_TRUE(Started(printer));
  ASSERT_FALSE(printer.SerialPath().empty());
  SerialHost host(options.SerialLink);  // through the link
  ASSERT_TRUE(host.Valid());
  EXPECT_TRUE(Answers(host, Identify + Firmware, IdentifyReply + FirmwareReply));
  // Silent while restarting, the new setting afterwards.
  EXPECT_TRUE(Answers(host, Enter, EnterReply));
  ASSERT_TRUE(host.Send(Write(0x03) + Leave));
  ASSERT_TRUE(WaitUntil([&] { return printer.Printer().Restarting(); }));
  ASSERT_TRUE(host.Send(Query));
  EXPECT_TRUE(host.Read(1, 200).empty());
  clock.Advance(1000);
  EXPECT_TRUE(Answers(host, Query, QueryReply('3')));
  printer.Stop();
  EXPECT_NE(access(options.SerialLink.c_str(), F_OK), 0);  // the link is gone with the pty
}
#endif

}  // namespace
}  // namespace qx::sim
