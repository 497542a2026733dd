// The USB kinds' rules without a device.

#include "port/usb/usb_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>
#include <utility>

namespace qx {
namespace {

TEST(UsbRules, ChannelNames) {
  EXPECT_EQ(FixedChannelName(0, "QX"), "\\\\.\\QXUSB000\\QX");
  EXPECT_EQ(FixedChannelName(7, "QD"), "\\\\.\\QXUSB007\\QD");
  EXPECT_EQ(FixedChannelName(999, "QX"), "\\\\.\\QXUSB999\\QX");
  EXPECT_EQ(InterfaceChannelName("\\\\?\\usb#x#{guid}", "QX"), "\\\\?\\usb#x#{guid}\\QX");
  EXPECT_EQ(InterfaceChannelName("", "QD"), "");
}

TEST(UsbRules, DeviceNumbersAboveNineHundredNinetyNineBecomeZero) {
  // -1 is above them too: an unsigned comparison.
  const std::pair<int, int> numbers[] = {{0, 0}, {7, 7}, {999, 999}, {1000, 0}, {-1, 0}};
  for (const auto& [given, used] : numbers) EXPECT_EQ(VendorDeviceNumber(given), used) << given;
}

TEST(UsbRules, ChannelSelection) {
  // Setting, whether it selects QD, and the channel mode it gives.
  const std::tuple<int, int, int> settings[] = {{0, 0, 1}, {1, 1, 2}, {2, 0, 0}, {-5, 0, 0}, {77, 0, 0}};
  for (const auto& [setting, qd, mode] : settings) {
    EXPECT_EQ(QdSelected(setting), qd) << setting;
    EXPECT_EQ(ChannelModeFor(setting), mode) << setting;
  }
  EXPECT_TRUE(ModeOpensQx(0) && ModeOpensQd(0));
  EXPECT_TRUE(ModeOpensQx(1) && !ModeOpensQd(1));
  EXPECT_TRUE(!ModeOpensQx(2) && ModeOpensQd(2));
}

TEST(UsbRules, TimeoutBlockIsLittleEndianInSettingsOrder) {
  std::uint8_t block[TimeoutBlockSize];
  EncodeTimeouts({0x01020304, 10, 0, 0xA0B0C0D0}, block);
  const std::uint8_t expected[TimeoutBlockSize] = {4, 3, 2, 1, 10, 0, 0, 0, 0, 0, 0, 0, 0xD0, 0xC0, 0xB0, 0xA0};
  EXPECT_EQ(0, std::memcmp(block, expected, sizeof block));
  DriverTimeouts back;
  EXPECT_TRUE(DecodeTimeouts(block, 16, back));
  EXPECT_EQ(back, (DriverTimeouts{0x01020304, 10, 0, 0xA0B0C0D0}));
  DriverTimeouts untouched;
  EXPECT_FALSE(DecodeTimeouts(block, 15, untouched));
  EXPECT_EQ(untouched, DriverTimeouts{});
  EXPECT_EQ(DriverTimeouts{}, (DriverTimeouts{5, 50, 5, 2000}));
}

TEST(UsbRules, WriteLimitsAreUnsignedThirtyTwoBit) {
  EXPECT_EQ(WriteTimeLimit(5, 0, 2000), 2000u);
  EXPECT_EQ(WriteTimeLimit(100, 5, 2000), 2500u);
  EXPECT_EQ(WriteTimeLimit(0x10000, 0x10000, 3), 3u);  // wraps
  // The send worker's limit counts 10 ms steps, rounded up.
  EXPECT_EQ(SendRetryLimit(1024, {0, 0, 0, 2000}), 200u);
  EXPECT_EQ(SendRetryLimit(1, {0, 0, 5, 2000}), 201u);
  EXPECT_EQ(SendRetryLimit(1, {0, 0, 0, 1}), 1u);
  EXPECT_EQ(SendRetryLimit(0, {0, 0, 0, 0}), 0u);
  EXPECT_EQ(TicksSince(0xFFFFFFF0u, 0x10u), 0x20u);
}

TEST(UsbRules, DeviceStateTable) {
  struct Case {
    std::uint32_t state;
    int flag;
    int code;
  } cases[] = {
      {0x14, 0, 0}, {0x26, 1, 4}, {0x10, 0, 3}, {0x04, 0, 1}, {0x08, 0, 2}, {0x0C, 0, 0},
      {0x24, 0, 4}, {0x20, 0, 0}, {0x02, 1, 0}, {0x3C, 0, 0}, {0x1C, 0, 0}, {0xFFFFFF04, 0, 1},
      {0x28, 0, 0}, {0x30, 0, 0}, {0x00, 0, 0}, {0x06, 1, 1},
  };
  for (const Case& c : cases) {
    int flag = -1, code = -1;
    UsbStatusFromDeviceState(c.state, flag, code);
    EXPECT_EQ(flag, c.flag) << std::hex << c.state;
    EXPECT_EQ(code, c.code) << std::hex << c.state;
  }
}

TEST(UsbRules, ListingLinesAndReadSizes) {
  EXPECT_EQ(UsbListingLine(3), "  USB Port          USB003\n");
  EXPECT_EQ(UsbListingLine(12, "USB001"), "  USB Port          USB012          USB001\n");
  EXPECT_EQ(DosNameOfInterfacePath("\\\\?\\usb#vid"), "usb#vid");
  EXPECT_EQ(DosNameOfInterfacePath("abc"), "");
  const std::pair<int, std::uint32_t> reads[] = {{1, 512},     {511, 512},   {512, 512},
                                                 {1000, 512}, {1024, 1024}, {1535, 1024}};
  for (const auto& [asked, request] : reads) EXPECT_EQ(PrinterReadRequest(asked), request) << asked;
}

}  // namespace
}  // namespace qx
