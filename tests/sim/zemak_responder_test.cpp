#include "sim/engine/zemak_responder.h"

#include <gtest/gtest.h>

#include "wire_client.h"

namespace qx::sim {
namespace {

using namespace test;

// The requests exactly as the host sends them.
const Bytes SetBypass1 = B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x43, 0x03, 0x00, 0x00, 0x15, 0x00, 0x00, 0x00, 0x01, 0x01});
const Bytes SetBypass0 = B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x43, 0x03, 0x00, 0x00, 0x15, 0x00, 0x00, 0x00, 0x01, 0x00});
const Bytes DeviceRequest = B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x43, 0x03, 0x00, 0x00, 0x12, 0x00, 0x00, 0x00, 0x01, 0x00});
const Bytes QueryIdentity = B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x51, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
const Bytes QueryBasic = B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x51, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
const Bytes QueryExtended = B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x51, 0x03, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00});

const Peer Host{{127, 1, 0, 9}, 40001};

// "ZEMAK" + letter + target + number + function + result + length.
Bytes Header(char type, int target, int function, int result, int length) {
  return B({0x5A, 0x45, 0x4D, 0x41, 0x4B, type, target, 0x00, function >> 8, function & 0xFF, result >> 8,
            result & 0xFF, length >> 8, length & 0xFF});
}

class ZemakTest : public ::testing::Test {
 protected:
  FakeClock clock{0};
  ZemakResponder zemak{clock};

  // The one datagram that answers `request`, checked to go back to the sender.
  Bytes Ask(const Bytes& request, const Peer& from = Host) {
    zemak.Receive(from, request);
    std::vector<Datagram> replies = zemak.TakeDue();
    if (replies.size() != 1) {
      ADD_FAILURE() << replies.size() << " replies";
      return {};
    }
    EXPECT_EQ(replies[0].To, from);
    return replies[0].Data;
  }
};

TEST_F(ZemakTest, ControlAndReadyRequestsAreAnsweredByteForByte) {
  EXPECT_TRUE(SameBytes(Header('q', 3, 0x0020, 0, 1) + B({0x00}), Ask(QueryReady)));
  EXPECT_TRUE(SameBytes(Header('c', 3, 0x0015, 0, 1) + B({0x01}), Ask(SetBypass1)));
  EXPECT_EQ(zemak.Bypass(), 1);
  EXPECT_TRUE(SameBytes(Header('c', 3, 0x0015, 0, 1) + B({0x00}), Ask(SetBypass0)));
  EXPECT_EQ(zemak.Bypass(), 0);
  EXPECT_TRUE(SameBytes(Header('c', 3, 0x0012, 0, 1) + B({0x00}), Ask(DeviceRequest)));
  EXPECT_EQ(zemak.RequestsReceived(ZemakRequest::SetBypass), 2);
  EXPECT_TRUE(SameBytes(QueryReady, ZemakResponder::RequestBytes(ZemakRequest::QueryReady)));
  EXPECT_TRUE(SameBytes(SetBypass1, ZemakResponder::RequestBytes(ZemakRequest::SetBypass, 1)));
  EXPECT_TRUE(SameBytes(DeviceRequest, ZemakResponder::RequestBytes(ZemakRequest::SendDeviceRequest)));
  EXPECT_TRUE(SameBytes(Search, ZemakResponder::RequestBytes(ZemakRequest::Search)));
}

TEST_F(ZemakTest, PlainInterfaceIdentifiesItselfAsNxL) {
  ZemakConfig c = ZemakConfig::Plain();
  c.Mac = {0x00, 0x11, 0x62, 0xAB, 0xCD, 0xEF};
  c.HardMajor = 0x01;
  c.HardMinor = 0x90;
  c.SoftMajor = 0x02;
  c.SoftMinor = 0x05;
  zemak.SetConfig(c);
  Bytes data(144, '\0');
  data.replace(0, 6, "NX-L72");
  data.replace(36, 4, B({0x01, 0x90, 0x02, 0x05}));
  data.replace(40, 6, B({0x00, 0x11, 0x62, 0xAB, 0xCD, 0xEF}));
  data[61] = 0x04;
  EXPECT_TRUE(SameBytes(Header('q', 0, 0x0000, 0x0000, 144) + data, Ask(QueryIdentity)));
  EXPECT_TRUE(SameBytes(Header('p', 0, 0x0000, 0x0000, 144) + data, Ask(Search)));
}

TEST_F(ZemakTest, ExtendedInterfaceAnswersWithE000AndByte61) {
  ZemakConfig c = ZemakConfig::Extended();
  c.Byte61 = 0x0C;
  zemak.SetConfig(c);
  const Bytes identity = Ask(QueryIdentity);
  ASSERT_EQ(identity.size(), 14u + 144u);
  EXPECT_TRUE(SameBytes(Header('q', 0, 0x0000, 0xE000, 144), identity.substr(0, 14)));
  EXPECT_EQ(identity.substr(14, 7), Bytes("NX-G72") + '\0');
  EXPECT_EQ(identity[14 + 61], 0x0C);
  const Bytes search = Ask(Search);
  EXPECT_TRUE(SameBytes(Header('p', 0, 0x0000, 0xE000, 144), search.substr(0, 14)));
  EXPECT_TRUE(SameBytes(identity.substr(14), search.substr(14)));
  // The status requests keep result 0 on an extended interface.
  EXPECT_TRUE(SameBytes(Header('q', 3, 0x0001, 0x0000, 64), Ask(QueryExtended).substr(0, 14)));
}

TEST_F(ZemakTest, StatusRepliesCarryTheSettableBytes) {
  ZemakConfig c;
  c.BasicStatus = 0x05;
  c.ExtendedStatus = 0x07;
  c.ModelPrefix = "KOLV";
  c.ReadyByte = 0x01;
  zemak.SetConfig(c);
  Bytes basic(16, '\0');
  basic[1] = 0x05;
  EXPECT_TRUE(SameBytes(Header('q', 3, 0x0000, 0, 16) + basic, Ask(QueryBasic)));
  Bytes extended(64, '\0');
  extended.replace(6, 4, "KOLV");
  extended[38] = 0x07;
  EXPECT_TRUE(SameBytes(Header('q', 3, 0x0001, 0, 64) + extended, Ask(QueryExtended)));
  EXPECT_TRUE(SameBytes(Header('q', 3, 0x0020, 0, 1) + B({0x01}), Ask(QueryReady)));
}

TEST_F(ZemakTest, OnlyWellFormedRequestsAreAnswered) {
  const Bytes unanswered[] = {
      B({0x5A, 0x45, 0x4D, 0x41, 0x58, 0x51, 0x03, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00}),  // magic
      B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x71, 0x03, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00}),  // a reply
      B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x51, 0x03, 0x00, 0x00, 0x21, 0x00, 0x00, 0x00, 0x00}),  // function
      B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x51, 0x03, 0x01, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00}),  // number
      B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x51, 0x03, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00}),        // short
      B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x43, 0x03, 0x00, 0x00, 0x15, 0x00, 0x00, 0x00, 0x00}),  // no value
      B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x43, 0x03, 0x00, 0x00, 0x15, 0x00, 0x00, 0x00, 0x02, 0x01}),  // cut
  };
  for (const Bytes& request : unanswered) {
    zemak.Receive(Host, request);
    EXPECT_TRUE(zemak.TakeDue().empty()) << HexText(request);
  }
  EXPECT_EQ(zemak.MillisecondsUntilNext(), -1);
  // Two requests in one datagram: two replies.
  zemak.Receive(Host, QueryReady + SetBypass1);
  EXPECT_EQ(zemak.TakeDue().size(), 2u);
}

TEST_F(ZemakTest, RepliesGoToWhoeverAsked) {
  const Peer other{{127, 1, 0, 10}, 50000};
  zemak.Receive(Host, QueryReady);
  zemak.Receive(other, QueryIdentity);
  const std::vector<Datagram> replies = zemak.TakeDue();
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[0].To, Host);
  EXPECT_EQ(replies[1].To, other);
  EXPECT_EQ(replies[1].Data[5], 'q');
}

TEST_F(ZemakTest, SilentPerRequestOrForAll) {
  zemak.SetFault(ZemakRequest::QueryReady, With(&DatagramFault::Silent, true, &DatagramFault::Count, 1));
  zemak.Receive(Host, QueryReady);
  EXPECT_TRUE(zemak.TakeDue().empty());
  EXPECT_EQ(Ask(QueryReady).size(), 15u);  // the count ran out
  zemak.SetFaultForAll(With(&DatagramFault::Silent, true));
  for (const Bytes& r : {QueryReady, QueryIdentity, Search, SetBypass1}) {
    zemak.Receive(Host, r);
    EXPECT_TRUE(zemak.TakeDue().empty());
  }
  zemak.ClearFaults();
  EXPECT_EQ(Ask(QueryReady).size(), 15u);
}

TEST_F(ZemakTest, ReplyCanBeSplitOverDatagramsOrShareOne) {
  zemak.SetFault(ZemakRequest::QueryReady, With(&DatagramFault::SplitAt, std::vector<int>{7, 12}));
  zemak.Receive(Host, QueryReady);
  std::vector<Datagram> parts = zemak.TakeDue();
  ASSERT_EQ(parts.size(), 3u);
  const Bytes whole = Header('q', 3, 0x0020, 0, 1) + B({0x00});
  EXPECT_TRUE(SameBytes(whole.substr(0, 7), parts[0].Data));
  EXPECT_TRUE(SameBytes(whole.substr(7, 5), parts[1].Data));
  EXPECT_TRUE(SameBytes(whole.substr(12), parts[2].Data));

  DatagramFault shared;
  shared.Before = Header('c', 3, 0x0015, 0, 1) + B({0x01});  // another packet first
  shared.After = B({'Z', 'Z'});
  zemak.SetFault(ZemakRequest::QueryReady, shared);
  EXPECT_TRUE(SameBytes(shared.Before + whole + "ZZ", Ask(QueryReady)));
}

TEST_F(ZemakTest, ResultDataAndLengthCanBeChanged) {
  zemak.SetFault(ZemakRequest::QueryReady, With(&DatagramFault::Data, B({0x01})));
  EXPECT_TRUE(SameBytes(Header('q', 3, 0x0020, 0, 1) + B({0x01}), Ask(QueryReady)));

  zemak.SetFault(ZemakRequest::QueryBasicStatus, With(&DatagramFault::ResultCode, 0x8001));
  EXPECT_TRUE(SameBytes(Header('q', 3, 0x0000, 0x8001, 16), Ask(QueryBasic).substr(0, 14)));

  // Over the host's 512-byte buffer.
  zemak.SetFault(ZemakRequest::QueryIdentity, With(&DatagramFault::PadDataTo, 600));
  const Bytes big = Ask(QueryIdentity);
  EXPECT_EQ(big.size(), 614u);
  EXPECT_TRUE(SameBytes(Header('q', 0, 0, 0, 600), big.substr(0, 14)));

  // A length that disagrees with the 144 data bytes sent.
  zemak.SetFault(ZemakRequest::Search, With(&DatagramFault::AnnouncedLength, 0x0091));
  const Bytes wrong = Ask(Search);
  EXPECT_EQ(wrong.size(), 14u + 144u);
  EXPECT_TRUE(SameBytes(B({0x00, 0x91}), wrong.substr(12, 2)));

  const Bytes other = B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x71, 0x04, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00});
  zemak.SetFault(ZemakRequest::QueryReady, With(&DatagramFault::Replace, other));
  EXPECT_TRUE(SameBytes(other, Ask(QueryReady)));
}

TEST_F(ZemakTest, LateRepliesWaitForTheClock) {
  zemak.SetFault(ZemakRequest::QueryReady, With(&DatagramFault::DelayMs, 3500));
  zemak.Receive(Host, QueryReady);
  EXPECT_EQ(zemak.MillisecondsUntilNext(), 3500);
  clock.Advance(3499);
  EXPECT_TRUE(zemak.TakeDue().empty());
  clock.Advance(1);
  EXPECT_EQ(zemak.TakeDue().size(), 1u);
}

TEST(ZemakWithPrinter, SilentWhileThePrinterIsUnreachable) {
  FakeClock clock;
  PrinterEngine printer(clock);
  printer.SetRestartMs(60000);
  ZemakResponder zemak(clock, ZemakConfig::Plain(), &printer);
  zemak.SetFault(ZemakRequest::QueryIdentity, With(&DatagramFault::DelayMs, 100));
  zemak.Receive(Host, QueryIdentity);  // due while the printer is down: lost
  printer.BeginRestart();
  zemak.Receive(Host, QueryReady);
  clock.Advance(59999);
  EXPECT_FALSE(zemak.Reachable());
  EXPECT_TRUE(zemak.TakeDue().empty());
  clock.Advance(1);
  EXPECT_TRUE(zemak.Reachable());
  EXPECT_TRUE(zemak.TakeDue().empty());
  zemak.Receive(Host, QueryReady);
  EXPECT_EQ(zemak.TakeDue().size(), 1u);
}

TEST_F(ZemakTest, LogKeepsEveryDatagramWithItsPeer) {
  clock.Set(2500);
  Ask(QueryReady);
  const std::vector<ZemakLogEntry> log = zemak.Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].Dir, Direction::HostToPrinter);
  EXPECT_EQ(log[0].With, Host);
  EXPECT_TRUE(SameBytes(QueryReady, log[0].Data));
  EXPECT_EQ(log[1].Dir, Direction::PrinterToHost);
  EXPECT_EQ(FormatZemakLogEntry(log[1]),
            "2.500 udp 127.1.0.9:40001 qx<   5A 45 4D 41 4B 71 03 00 00 20 00 00 00 01 00");
}

}  // namespace
}  // namespace qx::sim
