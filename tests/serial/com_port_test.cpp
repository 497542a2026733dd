// The serial kind under Wine, against pty pairs mapped as COM ports (see
// pty_ports.sh): COM1<->COM2, COM10<->COM11, and ComPortName<->COM12.

#include <gtest/gtest.h>

#include <vector>

#include "line_port_cases.h"
#include "platform/time.h"
#include "port/parallel/lpt_port.h"
#include "port/serial/com_port.h"
#include "port/standard_ports.h"
#include "support/wait_until.h"

namespace qx::test {
namespace {

PortSettings SerialSettings(int portNumber, int syncMode, std::uint32_t readTimeout = 0) {
  return {.PortType = KindSerial, .SyncMode = syncMode, .PortNumber = portNumber, .BaudCode = 4, .DataBits = 8,
          .FlowControl = 1, .ReadTimeoutConstant = readTimeout, .WriteTimeoutConstant = 2000};
}

}  // namespace

template <>
struct LineKind<TQXCOM> {
  static PortSettings Settings(int code, int syncMode) { return SerialSettings(code, syncMode); }
  static constexpr LineDevice Devices[] = {{0, "\\\\.\\COM1", "COM2"}, {9, "\\\\.\\COM10", "COM11"}};
  // COM3 is "redirected to the spooler"; ComPortName is mapped to a pty whose peer is COM12.
  static constexpr SpooledLine Spooled = {2, "COM3", "\\Device\\Serial2", "ComPortName", "COM12"};
};
INSTANTIATE_TYPED_TEST_SUITE_P(ComPort, LinePort, TQXCOM);

namespace {

// A port on COM1, whose printer is on COM2.
class ComPort : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(peer.Valid()); }

  PtyPeer peer{"COM2"};
  TQXCOM port{0};
};

TEST_F(ComPort, StateAfterConstruction) {
  EXPECT_EQ(port.Kind, KindSerial);
  EXPECT_EQ(port.Dcb.DCBlength, 28u);
  EXPECT_EQ(port.Dcb.BaudRate, 19200u);
  EXPECT_EQ(port.Dcb.fBinary, 1u);
  EXPECT_EQ(port.Dcb.fParity, 1u);
  EXPECT_EQ(port.Dcb.fOutxCtsFlow, 0u);
  EXPECT_EQ(port.Dcb.fOutxDsrFlow, 1u);
  EXPECT_EQ(port.Dcb.fDtrControl, static_cast<unsigned>(DTR_CONTROL_HANDSHAKE));
  EXPECT_EQ(port.Dcb.fRtsControl, static_cast<unsigned>(RTS_CONTROL_DISABLE));
  EXPECT_EQ(port.Dcb.fAbortOnError, 1u);
  EXPECT_EQ(port.Dcb.ByteSize, 8);
  EXPECT_EQ(port.Dcb.Parity, NOPARITY);
  EXPECT_EQ(port.Dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(port.Dcb.XonChar, 0x11);
  EXPECT_EQ(port.Dcb.XoffChar, 0x13);
  EXPECT_EQ(port.Timeouts.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(port.Timeouts.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(port.Timeouts.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(port.Timeouts.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(port.Timeouts.WriteTotalTimeoutConstant, 2000u);
  EXPECT_EQ(port.SyncMode, 0);
  EXPECT_EQ(port.GetOutputBlockSize(), 1024);
  EXPECT_EQ(port.SetInputBlockSize(65540), 1);
  EXPECT_EQ(port.SetInputBlockSize(65541), 0);
  EXPECT_EQ(port.GetInputBlockSize(), 4096);
  EXPECT_EQ(port.IsOpen(), 0);
  EXPECT_EQ(port.SetHandshakeBypass(1), 0);
}

TEST_F(ComPort, ConfigureAppliesTheCodeTablesAndKeepsTheHandshakeForUnknownCodes) {
  // Flow control 2 is RTS/CTS.
  PortSettings s{.PortType = KindSerial, .SyncMode = 1, .PortNumber = 4, .BaudCode = 7, .DataBits = 7,
                 .ParityCode = 2, .StopBitsCode = 2, .FlowControl = 2, .ReadTimeoutMultiplier = 1,
                 .ReadTimeoutConstant = 2, .WriteTimeoutMultiplier = 3, .WriteTimeoutConstant = 4};
  ASSERT_EQ(port.Configure(&s), 1);
  EXPECT_EQ(port.PortNumber, 4);
  EXPECT_EQ(port.SyncMode, 1);
  EXPECT_EQ(port.Dcb.BaudRate, 115200u);
  EXPECT_EQ(port.Dcb.Parity, EVENPARITY);
  EXPECT_EQ(port.Dcb.StopBits, TWOSTOPBITS);
  EXPECT_EQ(port.Dcb.ByteSize, 7);
  EXPECT_EQ(port.Dcb.fOutxCtsFlow, 1u);
  EXPECT_EQ(port.Dcb.fRtsControl, static_cast<unsigned>(RTS_CONTROL_HANDSHAKE));
  EXPECT_EQ(port.Timeouts.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(port.Timeouts.ReadTotalTimeoutMultiplier, 1u);
  EXPECT_EQ(port.Timeouts.ReadTotalTimeoutConstant, 2u);
  EXPECT_EQ(port.Timeouts.WriteTotalTimeoutMultiplier, 3u);
  EXPECT_EQ(port.Timeouts.WriteTotalTimeoutConstant, 4u);

  s.BaudCode = 9;
  s.ParityCode = 5;
  s.StopBitsCode = 3;
  s.FlowControl = 7;
  ASSERT_EQ(port.Configure(&s), 1);
  EXPECT_EQ(port.Dcb.BaudRate, 19200u);
  EXPECT_EQ(port.Dcb.Parity, NOPARITY);
  EXPECT_EQ(port.Dcb.StopBits, ONESTOPBIT);
  EXPECT_EQ(port.Dcb.fOutxCtsFlow, 1u);  // still RTS/CTS
  EXPECT_EQ(port.Dcb.fRtsControl, static_cast<unsigned>(RTS_CONTROL_HANDSHAKE));
}

// What the shared synchronous case does not ask of a serial port.
TEST_F(ComPort, SynchronousModeOpensWithoutOverlappedIoAndRefusesTheVendorQueries) {
  ASSERT_NO_FATAL_FAILURE(ConfigureAndOpen(port, SerialSettings(0, 1, 1000)));
  EXPECT_EQ(port.OpenAttributes() & FILE_FLAG_OVERLAPPED, 0u);
  // Nothing comes: the read ends by the time-out with nothing.
  char reply[8] = {};
  int got = -1;
  EXPECT_EQ(port.Read(reply, 1, &got), 0);
  EXPECT_EQ(got, 0);

  DeviceInfo info;
  info.DeviceVersion = "stale";
  EXPECT_EQ(port.GetDeviceInfo(&info), 0);  // a standard driver refuses the vendor queries
  EXPECT_EQ(info.DeviceVersion, "");
  EXPECT_EQ(info.DriverVersion, "");
  EXPECT_EQ(info.SecondString, "");
  EXPECT_EQ(info.ExtraString, "");
  EXPECT_EQ(info.StatusFlag, 0);
  EXPECT_EQ(port.DeviceRequest(), 0);
  EXPECT_EQ(port.SetHandshakeBypass(1), 1);
  EXPECT_EQ(port.SetHandshakeBypass(0), 1);
  EXPECT_EQ(port.Close(), 1);
}

TEST_F(ComPort, AsynchronousModeWritesThroughTheWorkerAndReadsFromTheDevice) {
  ASSERT_NO_FATAL_FAILURE(ConfigureAndOpen(port, SerialSettings(0, 0)));
  EXPECT_TRUE(port.HasWorkers());
  EXPECT_NE(port.OpenAttributes() & FILE_FLAG_OVERLAPPED, 0u);

  const std::string data = Pattern(3000);
  int written = 0;
  ASSERT_EQ(port.Write(0, data.data(), 3000, &written), 1);
  EXPECT_EQ(written, 3000);
  const std::string arrived = peer.Receive(3000);
  EXPECT_TRUE(arrived == data) << arrived.size() << " bytes arrived";
  EXPECT_TRUE(WaitUntil([&] { return port.GetOutputPending() == 0; }));

  ASSERT_TRUE(peer.Send("hello"));
  ASSERT_TRUE(WaitUntil([&] { return port.GetInputAvailable() == 5; }));
  char reply[16] = {};
  int got = 0;
  EXPECT_EQ(port.Read(reply, 5, &got), 1);
  EXPECT_EQ(std::string(reply, 5), "hello");

  // With nothing to read the read still ends, within the time-outs and their grace.
  const auto start = SteadyMilliseconds();
  EXPECT_EQ(port.Read(reply, 4, &got), 0);
  EXPECT_EQ(got, 0);
  EXPECT_LT(SteadyMilliseconds() - start, 2000);
  // A failed wait for received characters (here every wait fails, as on a line
  // error) does not end the receive worker: only Close does.
  EXPECT_TRUE(port.WorkersRunning());

  const auto closing = SteadyMilliseconds();
  EXPECT_EQ(port.Close(), 1);
  EXPECT_LT(SteadyMilliseconds() - closing, 2000);
  EXPECT_FALSE(port.HasWorkers());
}

int Occurrences(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(ComPort, AWriteThatFailsAtOnceIsRetriedPacedAndReportedOncePerRunOfFailures) {
  FaultyWrites calls;
  TQXCOM failing(0, Kernel32DosDevices(), calls);
  ASSERT_NO_FATAL_FAILURE(ConfigureAndOpen(failing, SerialSettings(0, 0)));

  ::testing::internal::CaptureStdout();
  constexpr int failures = 30;
  calls.Fail = failures;
  const std::string first = Pattern(100);
  ASSERT_EQ(failing.Write(0, first.data(), 100, nullptr), 1);
  const std::string arrived = peer.Receive(100);
  // A second run of failures after a write that went out.
  ASSERT_TRUE(WaitUntil([&] { return failing.GetOutputPending() == 0; }));
  calls.Fail = 5;
  ASSERT_EQ(failing.Write(0, "again", 5, nullptr), 1);
  const std::string again = peer.Receive(5);
  EXPECT_EQ(failing.Close(), 1);
  const std::string printed = ::testing::internal::GetCapturedStdout();

  // Nothing is lost or doubled by the retries.
  EXPECT_TRUE(arrived == first) << arrived.size() << " bytes arrived";
  EXPECT_EQ(again, "again");
  EXPECT_EQ(Occurrences(printed, TQXCOM::WriteFailedLine), 2) << printed;
  // Each failure is followed by a pause of 1 ms or more before the next attempt.
  const std::vector<std::int64_t> at = calls.FailedAt();
  ASSERT_EQ(at.size(), static_cast<std::size_t>(failures + 5));
  EXPECT_GE(at[failures - 1] - at[0], failures - 1);
}

TEST_F(ComPort, AsynchronousReadEndsWithWhatArrivedWhenTheCompletionReportsAnError) {
  // Wine ends such a short read with ERROR_TIMEOUT.
  ASSERT_NO_FATAL_FAILURE(ConfigureAndOpen(port, SerialSettings(0, 0, 300)));
  ASSERT_TRUE(peer.Send("abcd"));
  ASSERT_TRUE(WaitUntil([&] { return port.GetInputAvailable() == 4; }));
  char buffer[10] = {};
  int got = -1;
  EXPECT_EQ(port.Read(buffer, 10, &got), 0);
  EXPECT_EQ(got, 4);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  got = -1;
  EXPECT_EQ(port.Read(buffer, 10, &got), 0);  // empty: ends by the time-out
  EXPECT_EQ(got, 0);
  EXPECT_EQ(port.Close(), 1);
}

TEST_F(ComPort, ReopenInTheOtherMode) {
  PortSettings s = SerialSettings(0, 0);
  ASSERT_NO_FATAL_FAILURE(ConfigureAndOpen(port, s));
  EXPECT_EQ(port.Close(), 1);
  s.SyncMode = 1;
  ASSERT_NO_FATAL_FAILURE(ConfigureAndOpen(port, s));
  EXPECT_FALSE(port.HasWorkers());
  ASSERT_TRUE(port.Write(0, "x", 1, nullptr));
  EXPECT_EQ(peer.Receive(1), "x");
  // SyncMode given to an open port waits for the next Open.
  s.SyncMode = 0;
  ASSERT_EQ(port.Configure(&s), 1);
  EXPECT_EQ(port.SyncMode, 1);
  EXPECT_FALSE(port.HasWorkers());
  EXPECT_EQ(port.Close(), 1);
}

TEST_F(ComPort, AMissingDeviceDoesNotOpen) {
  PortSettings s = SerialSettings(40, 1);  // COM41 is not mapped
  ASSERT_EQ(port.Configure(&s), 1);
  EXPECT_EQ(port.Open(), 0);
  EXPECT_EQ(port.IsOpen(), 0);
  EXPECT_EQ(port.Close(), 1);
}

TEST(StandardPorts, KindsZeroAndOneAreTheSerialAndParallelPorts) {
  auto serial = CreateStandardPort(KindSerial);
  auto parallel = CreateStandardPort(KindParallel);
  EXPECT_NE(dynamic_cast<TQXCOM*>(serial.get()), nullptr);
  EXPECT_NE(dynamic_cast<TQXLPT*>(parallel.get()), nullptr);
  EXPECT_EQ(serial->PortId, 0);
  EXPECT_EQ(parallel->Kind, KindParallel);
}

}  // namespace
}  // namespace qx::test
