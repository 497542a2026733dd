// The parallel kind under Wine. Its devices are ptys mapped by the serial tests'
// fixture: LPT1, LPT9, QXLPT1, QXLPT2, PVD_LPT1, PVD_LPT2 and LptPortName, with the
// peers COM13 to COM19.

#include <gtest/gtest.h>

#include "line_port_cases.h"
#include "port/parallel/lpt_port.h"

namespace qx::test {

template <>
struct LineKind<TQXLPT> {
  static PortSettings Settings(int code, int syncMode) {
    return {.PortType = KindParallel, .SyncMode = syncMode, .LptCode = code, .WriteTimeoutConstant = 2000};
  }
  static constexpr LineDevice Devices[] = {
      {0, "\\\\.\\LPT1", "COM13"},      {8, "\\\\.\\LPT9", "COM14"},      {9, "\\\\.\\QXLPT1", "COM15"},
      {10, "\\\\.\\QXLPT1", "COM15"},   {11, "\\\\.\\QXLPT2", "COM16"},   {19, "\\\\.\\PVD_LPT1", "COM17"},
      {20, "\\\\.\\PVD_LPT1", "COM17"}, {21, "\\\\.\\PVD_LPT2", "COM18"},
  };
  static constexpr SpooledLine Spooled = {1, "LPT2", "\\Device\\Parallel1", "LptPortName", "COM19"};
};
INSTANTIATE_TYPED_TEST_SUITE_P(LptPort, LinePort, TQXLPT);

namespace {

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

TEST(LptPort, OpenRaisesAShortWriteTimeOutButConfigureOnAnOpenPortDoesNot) {
  TQXLPT port(1);
  PortSettings s = LineKind<TQXLPT>::Settings(0, 1);
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

}  // namespace
}  // namespace qx::test
