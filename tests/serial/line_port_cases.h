#pragma once

// The cases the serial and parallel kinds share, over the pty pairs of pty_ports.sh.
// Each kind's test program describes its kind in a LineKind<Port> specialisation and
// instantiates the suite for it.

#include <gtest/gtest.h>

#include <string>

#include "fake_dos_devices.h"
#include "faulty_writes.h"
#include "port/device/pending_io.h"
#include "port/queued_port.h"
#include "pty_peer.h"
#include "support/wait_until.h"

namespace qx::test {

// A device code of a kind, the path it opens, and the COM name of that pty's far end.
struct LineDevice {
  int Code;
  const char* Path;
  const char* Peer;
};

// A standard name that the spooler holds (its first target is the spooler's pipe): the
// port opens `Target` under the kind's private name instead, mapped to `Peer`'s pty.
struct SpooledLine {
  int Code;
  const char* Name;
  const char* Target;
  const char* PrivateName;
  const char* Peer;
};

// Specialised by each kind with:
//   static PortSettings Settings(int code, int syncMode);
//   static const LineDevice Devices[];  (the first is where the other cases run)
//   static const SpooledLine Spooled;
template <class Port>
struct LineKind;

inline void ConfigureAndOpen(TQXCCC& port, PortSettings settings) {
  ASSERT_EQ(port.Configure(&settings), 1);
  ASSERT_EQ(port.Open(), 1);
}

template <class Port>
class LinePort : public ::testing::Test {
 protected:
  using Kind = LineKind<Port>;
  const LineDevice& first = Kind::Devices[0];
};
TYPED_TEST_SUITE_P(LinePort);

TYPED_TEST_P(LinePort, DeviceCodesOpenTheirDevices) {
  for (const LineDevice& device : TestFixture::Kind::Devices) {
    SCOPED_TRACE(device.Path);
    PtyPeer peer(device.Peer);
    ASSERT_TRUE(peer.Valid()) << device.Peer;
    TypeParam port(0);
    PortSettings s = TestFixture::Kind::Settings(device.Code, 1);
    ASSERT_EQ(port.Configure(&s), 1);
    // Wine answers QueryDosDeviceA but keeps no raw definition: the plain name is used.
    EXPECT_EQ(port.DevicePath(), device.Path) << device.Code;
    ASSERT_EQ(port.Open(), 1) << device.Code;
    const std::string marker = "code " + std::to_string(device.Code);
    ASSERT_EQ(port.Write(0, marker.data(), static_cast<int>(marker.size()), nullptr), 1);
    EXPECT_EQ(peer.Receive(marker.size()), marker) << device.Code;
    EXPECT_EQ(port.Close(), 1);
  }
}

TYPED_TEST_P(LinePort, SpoolerRedirectedNameOpensThePrivateName) {
  const SpooledLine& spooled = TestFixture::Kind::Spooled;
  FakeDosDevices dos;
  dos.SetTargets(spooled.Name, {std::string("\\Device\\NamedPipe\\Spooler\\") + spooled.Name, spooled.Target});
  PtyPeer peer(spooled.Peer);
  ASSERT_TRUE(peer.Valid());
  TypeParam port(0, dos);
  PortSettings s = TestFixture::Kind::Settings(spooled.Code, 1);
  ASSERT_EQ(port.Configure(&s), 1);
  EXPECT_EQ(port.DevicePath(), std::string("\\\\.\\") + spooled.PrivateName);
  const auto defines = dos.Defines();
  ASSERT_GE(defines.size(), 2u);
  EXPECT_EQ(defines[0].Flags, DddRemoveDefinition);
  EXPECT_EQ(defines[1].Flags, DddRawTargetPath);
  EXPECT_EQ(defines[1].Name, spooled.PrivateName);
  EXPECT_EQ(defines[1].Target, spooled.Target);
  ASSERT_EQ(port.Open(), 1);
  ASSERT_EQ(port.Write(0, "spooled", 7, nullptr), 1);
  EXPECT_EQ(peer.Receive(7), "spooled");
  EXPECT_EQ(port.Close(), 1);
}

TYPED_TEST_P(LinePort, SynchronousModeWritesAndReadsWithoutWorkers) {
  PtyPeer peer(this->first.Peer);
  ASSERT_TRUE(peer.Valid());
  TypeParam port(0);
  PortSettings s = TestFixture::Kind::Settings(this->first.Code, 1);
  s.ReadTimeoutConstant = 1000;
  ASSERT_NO_FATAL_FAILURE(ConfigureAndOpen(port, s));
  EXPECT_FALSE(port.HasWorkers());
  EXPECT_EQ(port.Open(), 1);  // already open

  const std::string data = Pattern(2000);
  int written = 0;
  ASSERT_EQ(port.Write(0, data.data(), 2000, &written), 1);
  EXPECT_EQ(written, 2000);
  EXPECT_TRUE(peer.Receive(2000) == data);

  ASSERT_TRUE(peer.Send("7MC"));
  char reply[8] = {};
  int got = 0;
  EXPECT_EQ(port.Read(reply, 3, &got), 1);
  EXPECT_EQ(got, 3);
  EXPECT_EQ(std::string(reply, 3), "7MC");
  EXPECT_EQ(port.Close(), 1);
  EXPECT_EQ(port.IsOpen(), 0);
}

// A write the driver keeps pending for good does not hold Close beyond the cancel
// bound, its request is given up, and the port then opens and writes again.
TYPED_TEST_P(LinePort, CloseGivesUpOnAWriteTheDriverNeverEnds) {
  PtyPeer peer(this->first.Peer);
  ASSERT_TRUE(peer.Valid());
  FaultyWrites calls;
  TypeParam port(0, Kernel32DosDevices(), calls);
  ASSERT_NO_FATAL_FAILURE(ConfigureAndOpen(port, TestFixture::Kind::Settings(this->first.Code, 0)));
  calls.Stall = true;
  ASSERT_EQ(port.Write(0, "held", 4, nullptr), 1);
  ASSERT_TRUE(WaitUntil([&] { return calls.Stalled.load() == 1; }));
  const int abandoned = AbandonedRequests();

  const std::uint32_t start = calls.TickCount();
  EXPECT_EQ(port.Close(), 1);
  EXPECT_GE(calls.TickCount() - start, CancelLimitMs);
  EXPECT_FALSE(port.HasWorkers());
  EXPECT_EQ(AbandonedRequests(), abandoned + 1);

  calls.Stall = false;
  ASSERT_EQ(port.Open(), 1);
  ASSERT_EQ(port.Write(0, "next", 4, nullptr), 1);
  EXPECT_EQ(peer.Receive(4), "next");
  EXPECT_EQ(port.Close(), 1);
}

REGISTER_TYPED_TEST_SUITE_P(LinePort, DeviceCodesOpenTheirDevices, SpoolerRedirectedNameOpensThePrivateName,
                            SynchronousModeWritesAndReadsWithoutWorkers, CloseGivesUpOnAWriteTheDriverNeverEnds);

}  // namespace qx::test
