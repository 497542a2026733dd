// The parallel kind under Wine. Its devices are ptys mapped by the serial tests'
// fixture: LPT1, LPT9, QXLPT1, QXLPT2, PVD_LPT1, PVD_LPT2 and LptPortName, with the
// peers COM13 to COM19.

#include <gtest/gtest.h>

#include "fake_dos_devices.h"
#include "faulty_writes.h"
#include "platform/time.h"
#include "port/device/pending_io.h"
#include "port/parallel/lpt_port.h"
#include "pty_peer.h"
#include "support/wait_until.h"

namespace qx::test {
namespace {

PortSettings ParallelSettings(int code, int syncMode) {
  PortSettings s;
  s.PortType = KindParallel;
  s.SyncMode = syncMode;
  s.LptCode = code;
  s.WriteTimeoutConstant = 2000;
  return s;
}

COMMTIMEOUTS DeviceTimeouts(TQXLPT& port) {
  COMMTIMEOUTS t{};
  GetCommTimeouts(reinterpret_cast<HANDLE>(port.GetHandle()), &t);
  return t;
}

TEST(LptPort, StateAfterConstruction) {
  TQXLPT port(1);
  EXPECT_EQ(port.Kind, KindParallel);
  EXPECT_EQ(port.LptCode, 0);
  EXPECT_EQ(port.SyncMode, 0);
  EXPECT_EQ(port.Timeouts.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(port.Timeouts.ReadTotalTimeoutMultiplier, 5u);
  EXPECT_EQ(port.Timeouts.ReadTotalTimeoutConstant, 50u);
  EXPECT_EQ(port.Timeouts.WriteTotalTimeoutMultiplier, 5u);
  EXPECT_EQ(port.Timeouts.WriteTotalTimeoutConstant, 2000u);
  EXPECT_EQ(port.GetOutputBlockSize(), 1024);
  EXPECT_EQ(port.GetInputBlockSize(), 256);
  EXPECT_EQ(port.IsReady(), 1);
  EXPECT_EQ(port.SetHandshakeBypass(1), 0);
  EXPECT_EQ(port.DeviceRequest(), 0);
  EXPECT_EQ(port.GetDeviceInfo(nullptr), 0);
}

TEST(LptPort, DeviceCodesOpenTheirDevices) {
  const struct {
    int code;
    const char* path;
    const char* peer;
  } cases[] = {
      {0, "\\\\.\\LPT1", "COM13"},      {8, "\\\\.\\LPT9", "COM14"},      {9, "\\\\.\\QXLPT1", "COM15"},
      {10, "\\\\.\\QXLPT1", "COM15"},   {11, "\\\\.\\QXLPT2", "COM16"},   {19, "\\\\.\\PVD_LPT1", "COM17"},
      {20, "\\\\.\\PVD_LPT1", "COM17"}, {21, "\\\\.\\PVD_LPT2", "COM18"},
  };
  for (const auto& c : cases) {
    PtyPeer peer(c.peer);
    ASSERT_TRUE(peer.Valid()) << c.peer;
    TQXLPT port(1);
    PortSettings s = ParallelSettings(c.code, 1);
    ASSERT_EQ(port.Configure(&s), 1);
    EXPECT_EQ(port.DevicePath(), c.path) << c.code;
    ASSERT_EQ(port.Open(), 1) << c.code;
    const std::string marker = "code " + std::to_string(c.code);
    ASSERT_EQ(port.Write(0, marker.data(), static_cast<int>(marker.size()), nullptr), 1);
    EXPECT_EQ(peer.Receive(marker.size()), marker) << c.code;
    EXPECT_EQ(port.Close(), 1);
  }
}

TEST(LptPort, SpoolerRedirectedNameOpensThePrivateName) {
  FakeDosDevices dos;
  dos.SetTargets("LPT2", {"\\Device\\NamedPipe\\Spooler\\LPT2", "\\Device\\Parallel1"});
  PtyPeer peer("COM19");
  ASSERT_TRUE(peer.Valid());
  TQXLPT port(1, dos);
  PortSettings s = ParallelSettings(1, 1);
  ASSERT_EQ(port.Configure(&s), 1);
  EXPECT_EQ(port.DevicePath(), "\\\\.\\LptPortName");
  EXPECT_EQ(dos.Defines().back().Target, "\\Device\\Parallel1");
  ASSERT_EQ(port.Open(), 1);
  ASSERT_EQ(port.Write(0, "via", 3, nullptr), 1);
  EXPECT_EQ(peer.Receive(3), "via");
  EXPECT_EQ(port.Close(), 1);
}

TEST(LptPort, OpenRaisesAShortWriteTimeOutButConfigureOnAnOpenPortDoesNot) {
  TQXLPT port(1);
  PortSettings s = ParallelSettings(0, 1);
  s.WriteTimeoutConstant = 500;
  ASSERT_EQ(port.Configure(&s), 1);
  EXPECT_EQ(port.Timeouts.WriteTotalTimeoutConstant, 500u);
  ASSERT_EQ(port.Open(), 1);
  EXPECT_EQ(port.Timeouts.WriteTotalTimeoutConstant, 2000u);
  EXPECT_EQ(DeviceTimeouts(port).WriteTotalTimeoutConstant, 2000u);
  ASSERT_EQ(port.Configure(&s), 1);
  EXPECT_EQ(DeviceTimeouts(port).WriteTotalTimeoutConstant, 500u);
  EXPECT_EQ(DeviceTimeouts(port).ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(port.Close(), 1);
}

TEST(LptPort, SynchronousWriteAndRead) {
  PtyPeer peer("COM13");
  ASSERT_TRUE(peer.Valid());
  TQXLPT port(1);
  PortSettings s = ParallelSettings(0, 1);
  s.ReadTimeoutConstant = 1000;
  ASSERT_EQ(port.Configure(&s), 1);
  ASSERT_EQ(port.Open(), 1);
  EXPECT_FALSE(port.HasWorkers());
  const std::string data = Pattern(2000);
  int written = 0;
  ASSERT_EQ(port.Write(0, data.data(), 2000, &written), 1);
  EXPECT_EQ(written, 2000);
  EXPECT_TRUE(peer.Receive(2000) == data);
  ASSERT_TRUE(peer.Send("ok"));
  char reply[4] = {};
  int got = 0;
  EXPECT_EQ(port.Read(reply, 2, &got), 1);
  EXPECT_EQ(std::string(reply, 2), "ok");
  EXPECT_EQ(port.Close(), 1);
}

TEST(LptPort, CloseGivesUpOnAWriteTheDriverNeverEnds) {
  PtyPeer peer("COM13");
  ASSERT_TRUE(peer.Valid());
  FaultyWrites calls;
  TQXLPT port(1, Kernel32DosDevices(), calls);
  ASSERT_NO_FATAL_FAILURE(ConfigureAndOpen(port, ParallelSettings(0, 0)));
  ExpectCloseGivesUpOnAStalledWrite(port, calls, peer);
}

}  // namespace
}  // namespace qx::test
