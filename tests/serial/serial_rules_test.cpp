// The serial and parallel kinds' portable rules: code tables, the spooler-name
// workaround over a fake pair of DOS-device functions, and reply parsing.

#include <gtest/gtest.h>

#include <utility>

#include "fake_dos_devices.h"
#include "port/parallel/lpt_rules.h"
#include "port/serial/serial_rules.h"

namespace qx {
namespace {

using test::FakeDosDevices;

TEST(SerialCodes, BaudParityAndStopBitsTables) {
  const std::uint32_t rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  for (int code = 0; code < 8; ++code) EXPECT_EQ(BaudRateForCode(code), rates[code]) << code;
  EXPECT_EQ(BaudRateForCode(9), 19200u);
  EXPECT_EQ(BaudRateForCode(-1), 19200u);
  for (int code = 1; code <= 4; ++code) EXPECT_EQ(ParityForCode(code), code);
  EXPECT_EQ(ParityForCode(0), 0);
  EXPECT_EQ(ParityForCode(5), 0);
  EXPECT_EQ(StopBitsForCode(1), 1);
  EXPECT_EQ(StopBitsForCode(2), 2);
  EXPECT_EQ(StopBitsForCode(0), 0);
  EXPECT_EQ(StopBitsForCode(3), 0);
}

TEST(SerialCodes, HandshakeTableAndUnknownCodesKeepThePrevious) {
  const Handshake expected[7] = {
      {0, 1, 0, 0, DtrControlHandshake, RtsControlEnable}, {0, 0, 0, 0, DtrControlEnable, RtsControlEnable},
      {1, 0, 0, 0, DtrControlEnable, RtsControlHandshake}, {0, 0, 1, 1, DtrControlEnable, RtsControlEnable},
      {0, 1, 1, 1, DtrControlHandshake, RtsControlEnable}, {1, 1, 0, 0, DtrControlHandshake, RtsControlHandshake},
      {1, 0, 1, 1, DtrControlEnable, RtsControlHandshake},
  };
  for (int code = 0; code < 7; ++code) {
    Handshake h{};
    EXPECT_TRUE(HandshakeForCode(code, h));
    EXPECT_TRUE(h == expected[code]) << "code " << code;
  }
  Handshake kept = expected[5];
  EXPECT_FALSE(HandshakeForCode(7, kept));
  EXPECT_FALSE(HandshakeForCode(-1, kept));
  EXPECT_TRUE(kept == expected[5]);
}

TEST(TargetList, SplitsOnlyWithinTheReportedBytes) {
  const char list[] = "\\Device\\A\0\\Device\\B\0\0garbage";
  EXPECT_EQ(SplitTargetList(list, 22, sizeof list), (std::vector<std::string>{"\\Device\\A", "\\Device\\B"}));
  // A count that ends inside the second target keeps only what was returned.
  EXPECT_EQ(SplitTargetList(list, 13, sizeof list), (std::vector<std::string>{"\\Device\\A", "\\De"}));
  // A count beyond the buffer is cut to it; no NUL at the end is needed.
  const char unterminated[4] = {'C', 'O', 'M', '1'};
  EXPECT_EQ(SplitTargetList(unterminated, 100, 4), (std::vector<std::string>{"COM1"}));
  EXPECT_TRUE(SplitTargetList(list, 0, sizeof list).empty());
}

TEST(SpoolerWorkaround, TheFirstTargetThatIsNotTheSpoolersPipeGetsThePrivateName) {
  const struct {
    const char* Name;
    std::vector<std::string> Targets;
    const char* Chosen;
  } cases[] = {
      {"COM3", {"\\Device\\NamedPipe\\Spooler\\COM3", "\\Device\\Serial2"}, "\\Device\\Serial2"},
      {"LPT1", {"\\Device\\Parallel0", "\\Device\\NamedPipe\\Spooler\\LPT1"}, "\\Device\\Parallel0"},
      // Shorter than the pipe's prefix: the device.
      {"COM4", {"\\Device\\NamedPipe", "\\Device\\Serial3"}, "\\Device\\NamedPipe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FakeDosDevices dos;
    dos.SetTargets(c.Name, c.Targets);
    EXPECT_EQ(ChooseDevicePath(c.Name, "PortName", true, dos), "\\\\.\\PortName");
    const auto defines = dos.Defines();
    ASSERT_EQ(defines.size(), 2u);
    EXPECT_EQ(defines[0].Flags, DddRemoveDefinition);
    EXPECT_EQ(defines[0].Name, "PortName");
    EXPECT_EQ(defines[1].Flags, DddRawTargetPath);
    EXPECT_EQ(defines[1].Name, "PortName");
    EXPECT_EQ(defines[1].Target, c.Chosen);
  }
}

TEST(SpoolerWorkaround, EveryFailedStepFallsBackToThePlainName) {
  {
    FakeDosDevices dos;  // not NT: nothing is asked
    EXPECT_EQ(ChooseDevicePath("COM1", "ComPortName", false, dos), "\\\\.\\COM1");
    EXPECT_TRUE(dos.Calls.empty());
  }
  {
    FakeDosDevices dos;  // query fails
    EXPECT_EQ(ChooseDevicePath("COM10", "ComPortName", true, dos), "\\\\.\\COM10");
    EXPECT_EQ(dos.Defines().size(), 1u);  // only the removal
  }
  {
    FakeDosDevices dos;  // only spooler pipes
    dos.SetTargets("COM2", {"\\Device\\NamedPipe\\Spooler\\COM2", "\\Device\\NamedPipe\\Spooler\\X"});
    EXPECT_EQ(ChooseDevicePath("COM2", "ComPortName", true, dos), "\\\\.\\COM2");
  }
  {
    FakeDosDevices dos;  // the definition is refused
    dos.SetTargets("COM2", {"\\Device\\Serial1"});
    dos.DefineFails = true;
    EXPECT_EQ(ChooseDevicePath("COM2", "ComPortName", true, dos), "\\\\.\\COM2");
  }
  {
    FakeDosDevices dos;  // accepted but not kept: the private name would not open
    dos.SetTargets("COM2", {"\\Device\\Serial1"});
    dos.ForgetDefinitions = true;
    EXPECT_EQ(ChooseDevicePath("COM2", "ComPortName", true, dos), "\\\\.\\COM2");
  }
}

TEST(LptNames, CodesGiveTheirDeviceNames) {
  const std::pair<int, const char*> names[] = {{0, "LPT1"},      {8, "LPT9"},      {9, "QXLPT1"},
                                               {10, "QXLPT1"},   {11, "QXLPT2"},   {18, "QXLPT9"},
                                               {19, "PVD_LPT1"}, {20, "PVD_LPT1"}, {21, "PVD_LPT2"}};
  for (const auto& [code, name] : names) EXPECT_EQ(LptDosName(code), name) << code;
  EXPECT_TRUE(LptNameMayBeSpooled(8));
  EXPECT_FALSE(LptNameMayBeSpooled(9));
}

TEST(DeviceInfo, VersionsStringsAndStatus) {
  unsigned char descriptor[18] = {18, 1};
  descriptor[12] = 0x05;
  descriptor[13] = 0x1A;
  EXPECT_EQ(DeviceVersionFromDescriptor(descriptor, 18), "1A.05");
  EXPECT_EQ(DeviceVersionFromDescriptor(descriptor, 13), "");
  EXPECT_EQ(VersionText(0x2, 0x3), "2.03");

  // Language ids, then three strings "XX", "QX", "K40".
  const unsigned char run[] = {4, 3, 9, 4, 6, 3, 'X', 0, 'X', 0, 6, 3, 'Q', 0, 'X', 0, 8, 3, 'K', 0, '4', 0, '0', 0};
  std::string second, third;
  StringsFromDescriptorRun(run, sizeof run, second, third);
  EXPECT_EQ(second, "QX");
  EXPECT_EQ(third, "K40");
  // The third string runs past the bytes returned: it is left empty.
  second.clear();
  third.clear();
  StringsFromDescriptorRun(run, sizeof run - 1, second, third);
  EXPECT_EQ(second, "QX");
  EXPECT_EQ(third, "");
  // A zero length byte ends parsing instead of looping.
  const unsigned char zero[] = {0, 3, 0, 0};
  StringsFromDescriptorRun(zero, sizeof zero, second, third);
  // A descriptor claiming more than was returned gives only what is there.
  const unsigned char claim[] = {40, 3, 'A', 0, 'B', 0};
  EXPECT_EQ(StringFromDescriptor(claim, sizeof claim), "AB");

  int flag = 0, code = 9;
  StatusFromDeviceState(0x02 | 0x04, flag, code);
  EXPECT_EQ(flag, 1);
  EXPECT_EQ(code, 1);
  StatusFromDeviceState(0x08, flag, code);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(code, 2);
  StatusFromDeviceState(0x10, flag, code);
  EXPECT_EQ(code, 3);
  StatusFromDeviceState(0x0C, flag, code);
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace qx
