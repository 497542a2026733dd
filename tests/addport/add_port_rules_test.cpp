#include "addport/add_port_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <utility>

#include "app/main_window_logic.h"

namespace qx {
namespace {

TEST(AddPortRules, PresentDeviceNamesInAscendingOrder) {
  const std::set<std::string> present = {"COM3", "COM1", "COM255", "COM256", "LPT2"};
  auto exists = [&](const std::string& name) { return present.count(name) > 0; };
  EXPECT_EQ(PresentDeviceNames("COM", exists), (std::vector<std::string>{"COM1", "COM3", "COM255"}));
  EXPECT_EQ(PresentDeviceNames("LPT", exists), (std::vector<std::string>{"LPT2"}));
  EXPECT_TRUE(PresentDeviceNames("LPT", [](const std::string&) { return false; }).empty());
}

TEST(AddPortRules, OctetFieldIsCorrectedWhenTheFocusLeaves) {
  // Typed, then kept; the last one must not overflow.
  const std::pair<const char*, const char*> cases[] = {
      {"300", "0"}, {"08", "8"},   {"007", "7"},   {"", "0"},     {"abc", "0"}, {"0", "0"},
      {"255", "255"}, {"256", "0"}, {"-5", "0"}, {" +12", "12"}, {"1x", "1"}, {"99999999999999999999", "0"},
  };
  for (const auto& [typed, kept] : cases) EXPECT_EQ(NormaliseOctet(typed), kept) << '"' << typed << '"';
}

TEST(AddPortRules, SelectedAddressFillsTheOctetFields) {
  std::array<std::string, 4> octets{"1", "2", "3", "4"};
  SplitAddressIntoOctets("10.0.20.005", octets);
  EXPECT_EQ(octets, (std::array<std::string, 4>{"10", "0", "20", "5"}));
  SplitAddressIntoOctets("7.8", octets);
  EXPECT_EQ(octets, (std::array<std::string, 4>{"7", "8", "20", "5"}));
}

TEST(AddPortRules, SearchAnswerIsListedOnce) {
  std::vector<std::string> list;
  EXPECT_TRUE(AddSearchAnswer(list, "10.0.0.5"));
  EXPECT_TRUE(AddSearchAnswer(list, "10.0.0.6"));
  EXPECT_FALSE(AddSearchAnswer(list, "10.0.0.5"));
  EXPECT_EQ(list, (std::vector<std::string>{"10.0.0.5", "10.0.0.6"}));
}

// A template with every field set, so that a field the page must not touch shows.
PortSettings Template() {
  PortSettings s = DefaultPortSettings();
  s.PortType = KindSerial;
  s.PortNumber = 2;
  s.BaudCode = 5;
  s.ParityCode = 1;
  s.LptCode = 7;
  s.DeviceNumber = 9;
  s.ReadTimeoutConstant = 100;
  return s;
}

TEST(AddPortRules, ComAndLptEntriesSetOnlyTheirOwnFields) {
  struct Case {
    AddPortPage Page;
    const char* Name;
    int Type, PortNumber, BaudCode, ParityCode, LptCode;
  } cases[] = {
      {AddPortPage::Com, "COM12", KindSerial, 11, 3, 2, 7},
      {AddPortPage::Lpt, "LPT2", KindParallel, 2, 5, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    AddPortChoice choice;
    choice.Page = c.Page;
    (c.Page == AddPortPage::Com ? choice.ComName : choice.LptName) = c.Name;
    choice.SpeedIndex = 2;
    choice.ParityIndex = 2;
    const AddPortEntryData entry = BuildPortEntry(choice, Template());
    EXPECT_EQ(entry.Name, c.Name);
    EXPECT_EQ(entry.Settings.PortType, c.Type);
    EXPECT_EQ(entry.Settings.PortNumber, c.PortNumber);
    EXPECT_EQ(entry.Settings.BaudCode, c.BaudCode);
    EXPECT_EQ(entry.Settings.ParityCode, c.ParityCode);
    EXPECT_EQ(entry.Settings.LptCode, c.LptCode);
    EXPECT_EQ(entry.Settings.ReadTimeoutConstant, 100u);
  }
  AddPortChoice none;
  none.Page = AddPortPage::Com;
  EXPECT_EQ(BuildPortEntry(none, Template()).Name, "");
}

TEST(AddPortRules, UsbEntriesFollowTheMainWindowsNumbering) {
  AddPortChoice choice;
  choice.Page = AddPortPage::Usb;
  // Two vendor-driver devices, then printer-class interfaces 0 and 1.
  choice.UsbEntries = UsbListEntries({0, 1}, {0, 1});
  ASSERT_EQ(choice.UsbEntries.size(), 4u);
  EXPECT_EQ(choice.UsbEntries[2].Name, "USB PRN-002");

  choice.UsbIndex = 1;
  choice.UsbName = "USB-001";
  AddPortEntryData entry = BuildPortEntry(choice, Template());
  EXPECT_EQ(entry.Name, "USB-001");
  EXPECT_EQ(entry.Settings.PortType, KindVendorUsb);
  EXPECT_EQ(entry.Settings.DeviceNumber, 1);

  choice.UsbIndex = 3;
  choice.UsbName = "USB PRN-003";
  entry = BuildPortEntry(choice, Template());
  EXPECT_EQ(entry.Settings.PortType, KindUsbPrinter);
  EXPECT_EQ(entry.Settings.DeviceNumber, 1);  // the second printer-class interface

  choice.UsbIndex = -1;
  choice.UsbName = "";
  EXPECT_EQ(BuildPortEntry(choice, Template()).Name, "");
}

TEST(AddPortRules, EthernetEntryFromTheOctetTexts) {
  AddPortChoice choice;
  choice.Page = AddPortPage::Ethernet;
  choice.Octets = {"10", "0", "0", "5"};
  const AddPortEntryData entry = BuildPortEntry(choice, Template());
  EXPECT_EQ(entry.Name, "10.0.0.5");
  EXPECT_EQ(entry.Settings.PortType, KindNetwork);
  const std::uint8_t expected[4] = {10, 0, 0, 5};
  EXPECT_EQ(0, std::memcmp(entry.Settings.IpAddress, expected, 4));
  // Fields the network port ignores come from the template.
  EXPECT_EQ(entry.Settings.BaudCode, 5);
  EXPECT_EQ(entry.Settings.PortNumber, 2);

  choice.Octets = {"192", "168", "192", "168"};
  EXPECT_EQ(BuildPortEntry(choice, Template()).Name, "192.168.192.168");
}

}  // namespace
}  // namespace qx
