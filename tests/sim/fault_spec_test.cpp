#include "sim/engine/fault_spec.h"

#include <gtest/gtest.h>

#include "wire_client.h"

namespace qx::sim {
namespace {

using test::B;
using test::SameBytes;

TEST(FaultSpec, CommandFaultItems) {
  FaultSpec spec;
  std::string error;
  ASSERT_TRUE(ParseFaultSpec("identify:insert=1311,at=3,delay=250,byte-delay=10,count=2", spec, error)) << error;
  EXPECT_FALSE(spec.Network);
  EXPECT_EQ(spec.ForCommand, Command::Identify);
  EXPECT_TRUE(SameBytes(B({0x13, 0x11}), spec.Reply.Insert));
  EXPECT_EQ(spec.Reply.InsertAt, 3);
  EXPECT_EQ(spec.Reply.DelayMs, 250);
  EXPECT_EQ(spec.Reply.ByteDelayMs, 10);
  EXPECT_EQ(spec.Reply.Count, 2);

  ASSERT_TRUE(ParseFaultSpec("all:silent", spec, error)) << error;
  EXPECT_FALSE(spec.ForCommand.has_value());
  EXPECT_TRUE(spec.Reply.Silent);

  ASSERT_TRUE(ParseFaultSpec("query:replace=37273132371F3200,no-nul,pad=600,disconnect=4", spec, error));
  EXPECT_TRUE(SameBytes(B({0x37, 0x27, 0x31, 0x32, 0x37, 0x1F, 0x32, 0x00}), *spec.Reply.Replace));
  EXPECT_TRUE(spec.Reply.DropNul);
  EXPECT_EQ(spec.Reply.PadTo, 600);
  EXPECT_EQ(spec.Reply.DisconnectAfter, 4);
}

TEST(FaultSpec, NetworkFaultItems) {
  FaultSpec spec;
  std::string error;
  ASSERT_TRUE(ParseFaultSpec("udp.identity:result=E000,data=4E58,pad=600,length=145,split=7/20,delay=3100",
                             spec, error))
      << error;
  EXPECT_TRUE(spec.Network);
  EXPECT_EQ(spec.ForRequest, ZemakRequest::QueryIdentity);
  EXPECT_EQ(spec.Datagram.ResultCode, 0xE000);
  EXPECT_TRUE(SameBytes("NX", *spec.Datagram.Data));
  EXPECT_EQ(spec.Datagram.PadDataTo, 600);
  EXPECT_EQ(spec.Datagram.AnnouncedLength, 145);
  EXPECT_EQ(spec.Datagram.SplitAt, (std::vector<int>{7, 20}));
  EXPECT_EQ(spec.Datagram.DelayMs, 3100);
  ASSERT_TRUE(ParseFaultSpec("udp.all:before=5A,after=,silent", spec, error)) << error;
  EXPECT_FALSE(spec.ForRequest.has_value());
  EXPECT_TRUE(spec.Datagram.Silent);
}

TEST(FaultSpec, RefusesWhatIsNotAFault) {
  const char* const bad[] = {"identify",          "identify:",         "nothing:silent",   "write:silent",
                             "udp.nothing:silent", "identify:split=3",  "udp.ready:no-nul", "firmware:delay=x",
                             "query:replace=123", "udp.ready:split=9/4", "udp.ready:result=E0", "all:count=0",
                             "all:silent=1"};
  for (const char* text : bad) {
    FaultSpec spec;
    std::string error;
    EXPECT_FALSE(ParseFaultSpec(text, spec, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(FaultSpec, AppliedToThePrinterOrItsInterface) {
  FakeClock clock;
  PrinterEngine printer(clock);
  ZemakResponder zemak(clock);
  FaultSpec spec;
  std::string error;
  for (const char* text : {"firmware:silent", "udp.ready:data=01"}) {
    ASSERT_TRUE(ParseFaultSpec(text, spec, error)) << text;
    ApplyFaultSpec(spec, &printer, &zemak);
  }
  HostLink host(printer);
  host.Write(wire::FirmwareQuery());
  EXPECT_TRUE(host.Read().empty());
  zemak.Receive({}, ZemakResponder::RequestBytes(ZemakRequest::QueryReady));
  const std::vector<Datagram> replies = zemak.TakeDue();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].Data.back(), 0x01);
}

}  // namespace
}  // namespace qx::sim
