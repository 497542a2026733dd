// The qxmodel command line: PORT and MODEL forms as the Add Port dialog builds them,
// every refused form, options and the JSON texts.

#include <gtest/gtest.h>

#include <sstream>

#include "app/main_window_logic.h"
#include "cli/cli_args.h"
#include "cli/json.h"

namespace qx::cli {
namespace {

PortSpec Parse(const std::string& text) {
  PortSpec spec;
  std::string error;
  EXPECT_TRUE(ParsePort(text, DefaultPortSettings(), spec, error)) << text << ": " << error;
  return spec;
}

std::string Refusal(const std::string& text) {
  PortSpec spec;
  std::string error;
  EXPECT_FALSE(ParsePort(text, DefaultPortSettings(), spec, error)) << text;
  return error;
}

// The number a kind's settings carry: the COM or service port number, the LPT code,
// the USB device number, the last octet of the address.
int KindNumber(const PortSettings& s) {
  switch (s.PortType) {
    case KindParallel: return s.LptCode;
    case KindVendorUsb:
    case KindUsbPrinter: return s.DeviceNumber;
    case KindNetwork: return s.IpAddress[3];
    default: return s.PortNumber;
  }
}

TEST(ParsePort, EveryKindAsTheDialogCodesIt) {
  struct Case {
    const char* text;
    const char* display;
    int kind;
    int number;
    int baudCode;  // a COM port's default is the dialog's, 3 (9600 bps); other kinds keep the template's
    int parityCode;
  };
  const Case cases[] = {
      {"com3", "COM3", KindSerial, 2, 3, 0},
      {"COM12:115200:Even", "COM12", KindSerial, 11, 7, 2},
      {"com1:2400:odd", "COM1", KindSerial, 0, 1, 1},
      {"com255:38400:none", "COM255", KindSerial, 254, 5, 0},
      {"lpt2", "LPT2", KindParallel, 1, 4, 0},
      {"usb-001", "USB-001", KindVendorUsb, 1, 4, 0},
      {"USBPRN-002", "USB PRN-002", KindUsbPrinter, 2, 4, 0},
      {"usbprn-7", "USB PRN-007", KindUsbPrinter, 7, 4, 0},
      {"net:10.0.0.200", "10.0.0.200", KindNetwork, 200, 4, 0},
      {"net:010.000.000.007", "10.0.0.7", KindNetwork, 7, 4, 0},
      {"service:1", "PVDPRT001", KindPortService, 1, 4, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const PortSpec spec = Parse(c.text);
    EXPECT_EQ(spec.DisplayName, c.display);
    EXPECT_EQ(spec.Settings.PortType, c.kind);
    EXPECT_EQ(KindNumber(spec.Settings), c.number);
    EXPECT_EQ(spec.Settings.BaudCode, c.baudCode);
    EXPECT_EQ(spec.Settings.ParityCode, c.parityCode);
    EXPECT_EQ(spec.Settings.DataBits, 8);  // from the template
    EXPECT_EQ(spec.Settings.SyncMode, 1);
  }
  EXPECT_EQ(Parse("net:10.0.0.200").Settings.IpAddress[0], 10);
}

TEST(ParsePort, NothingIsGuessed) {
  for (const char* bad : {"", "com", "com0", "com256", "com-1", "com 3", "com3:", "com3:9601", "com3:9600:mark",
                          "com3:9600:odd:1", "com+3", "lpt0", "lpt10", "lpt", "usb-", "usb-127", "usb-1x",
                          "usbprn-abc", "usb000", "net:", "net:10.0.0", "net:10.0.0.256", "net:10.0.0.5.1",
                          "net:10..0.5", "net:0.0.0.0", "net:255.255.255.255",
                          "net: 10.0.0.5", "service:", "service:1000", "service:-1", "tcp:10.0.0.5", "3"}) {
    EXPECT_FALSE(Refusal(bad).empty()) << bad;
  }
  for (const char* bad : {"net:-printer", "net:printer-", "net:a..b", "net:print_er", "net:10.0.0.x.", "serial:",
                          "serial::9600", "serial:ttyS0:9601", "serial:ttyS0:9600:mark", "serial:ttyS0:1:2:3"}) {
    EXPECT_FALSE(Refusal(bad).empty()) << bad;
  }
  EXPECT_NE(Refusal("com3:9601").find("2400, 4800, 9600"), std::string::npos);
  EXPECT_NE(Refusal("lpt10").find("lpt1 to lpt9"), std::string::npos);
  EXPECT_NE(Refusal("printer").find("comN"), std::string::npos);
}

TEST(ParsePort, HostNamesAndSerialDevicesAndWhichOnesShareADevice) {
  PortSpec host = Parse("net:Printer-1.shop.example");
  EXPECT_EQ(host.Settings.PortType, KindNetwork);
  EXPECT_EQ(host.HostName, "printer-1.shop.example");
  EXPECT_EQ(Parse("net:localhost").HostName, "localhost");

#ifdef _WIN32
  PortSpec com = Parse("serial:COM3:19200:odd");
  EXPECT_EQ(com.DisplayName, "COM3");
  EXPECT_EQ(com.Settings.PortNumber, 2);
  EXPECT_EQ(com.Settings.BaudCode, 4);
  EXPECT_EQ(com.Settings.ParityCode, 1);
  EXPECT_TRUE(com.DevicePath.empty());
  EXPECT_FALSE(Refusal("serial:/dev/ttyS0").empty());
#else
  PortSpec tty = Parse("serial:/dev/ttyUSB0:19200:odd");
  EXPECT_EQ(tty.Settings.PortType, KindSerial);
  EXPECT_EQ(tty.DevicePath, "/dev/ttyUSB0");
  EXPECT_EQ(tty.Settings.BaudCode, 4);
  EXPECT_EQ(tty.Settings.ParityCode, 1);
  EXPECT_EQ(Parse("serial:ttyS1").DevicePath, "/dev/ttyS1");
  EXPECT_EQ(Parse("serial:ttyS1").Settings.BaudCode, 3);
#endif

  // Every COM port goes through one system-wide DOS name, every LPT port through another.
  EXPECT_EQ(DeviceKey(Parse("com1")), DeviceKey(Parse("com2:19200")));
  EXPECT_EQ(DeviceKey(Parse("lpt1")), DeviceKey(Parse("lpt2")));
  EXPECT_EQ(DeviceKey(Parse("net:10.0.0.5")), DeviceKey(Parse("net:010.0.0.5")));
  EXPECT_NE(DeviceKey(Parse("net:10.0.0.5")), DeviceKey(Parse("net:10.0.0.6")));
  EXPECT_NE(DeviceKey(Parse("usb-001")), DeviceKey(Parse("usbprn-001")));
  EXPECT_NE(DeviceKey(Parse("usb-001")), DeviceKey(Parse("usb-002")));
  EXPECT_NE(DeviceKey(Parse("service:1")), DeviceKey(Parse("service:2")));
}

TEST(ParseModel, TheThreeModelsAndNothingElse) {
  std::uint8_t value = 0xFF;
  std::string name, error;
  ASSERT_TRUE(ParseModel("QX-K40VII", value, name, error));
  EXPECT_EQ(value, 0x00);
  ASSERT_TRUE(ParseModel("qx-k40vi", value, name, error));
  EXPECT_EQ(value, 0x03);
  EXPECT_EQ(name, "QX-K40VI");
  ASSERT_TRUE(ParseModel("QX-K40V", value, name, error));
  EXPECT_EQ(value, 0x02);
  for (const char* bad : {"", "QX-K40", "QX-K40IV", "K40VI", "QX-K40VIII", "QX-K40VI ", "2"}) {
    EXPECT_FALSE(ParseModel(bad, value, name, error)) << bad;
  }
  EXPECT_NE(error.find("QX-K40VII, QX-K40VI or QX-K40V"), std::string::npos);
}

TEST(ParseCommandLine, CommandsArgumentsAndOptions) {
  CommandLine line;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"--json", "set", "QX-K40V", "com3", "--stop-services"}, line, error));
  EXPECT_EQ(line.Verb, Command::Set);
  EXPECT_EQ(line.ModelText, "QX-K40V");
  EXPECT_EQ(line.PortTexts, (std::vector<std::string>{"com3"}));
  EXPECT_FALSE(line.Fleet());
  EXPECT_TRUE(line.Json);
  EXPECT_TRUE(line.StopServices);

  ASSERT_TRUE(ParseCommandLine({"list", "--no-search"}, line, error));
  EXPECT_EQ(line.Verb, Command::List);
  EXPECT_TRUE(line.NoSearch);
  ASSERT_TRUE(ParseCommandLine({"get", "--", "-odd"}, line, error));
  EXPECT_EQ(line.PortTexts, (std::vector<std::string>{"-odd"}));
  ASSERT_TRUE(ParseCommandLine({"get", "com1", "--help"}, line, error));
  EXPECT_EQ(line.Verb, Command::Help);
  ASSERT_TRUE(ParseCommandLine({"--version"}, line, error));
  EXPECT_EQ(line.Verb, Command::Version);

  const std::vector<std::vector<std::string>> bad = {
      {}, {"--json"}, {"get"}, {"info", "com1", "com2"}, {"set", "com1"}, {"list", "com1"},
      {"fetch", "com1"}, {"get", "com1", "--jsn"}, {"get", "com1", "--no-search"}, {"GET", "com1"},
      {"get", "com1", "-j", "0"}, {"get", "com1", "-j"}, {"get", "com1", "--jobs=257"}, {"get", "-jx", "com1"},
      {"info", "com1", "-j", "2"}, {"list", "--ports-from", "f"}, {"services", "-j2"}, {"get", "--ports-from="},
  };
  for (const auto& args : bad) {
    EXPECT_FALSE(ParseCommandLine(args, line, error)) << (args.empty() ? "(none)" : args[0]);
    EXPECT_FALSE(error.empty());
  }
  ParseCommandLine({"set", "com1"}, line, error);
  EXPECT_EQ(error, "usage: qxmodel set MODEL PORT..., or qxmodel set MODEL --ports-from FILE");
}

TEST(ParseCommandLine, FleetsOfPortsJobsAndPortLists) {
  CommandLine line;
  std::string error;
  ASSERT_TRUE(ParseCommandLine({"set", "QX-K40VI", "com1", "net:10.0.0.5", "-j", "3"}, line, error)) << error;
  EXPECT_EQ(line.PortTexts, (std::vector<std::string>{"com1", "net:10.0.0.5"}));
  EXPECT_EQ(line.Jobs, 3);
  EXPECT_TRUE(line.Fleet());
  ASSERT_TRUE(ParseCommandLine({"get", "-j16", "--ports-from", "-"}, line, error)) << error;
  EXPECT_EQ(line.Jobs, 16);
  EXPECT_EQ(line.PortsFrom, "-");
  EXPECT_TRUE(line.PortTexts.empty());
  EXPECT_TRUE(line.Fleet());  // a list is a fleet even of one
  ASSERT_TRUE(ParseCommandLine({"--jobs=1", "print", "--ports-from=ports.txt", "lpt1"}, line, error)) << error;
  EXPECT_EQ(line.Jobs, 1);
  EXPECT_EQ(line.PortsFrom, "ports.txt");
  ASSERT_TRUE(ParseCommandLine({"get", "com1"}, line, error));
  EXPECT_EQ(line.Jobs, DefaultJobs);

  std::istringstream list("# shop 1\n net:10.0.0.5  \n\ncom3:19200 # till\n\t#\nusb-000\r\n");
  EXPECT_EQ(ReadPortList(list), (std::vector<std::string>{"net:10.0.0.5", "com3:19200", "usb-000"}));
}

TEST(Json, StringsAreEscapedAndObjectsKeepTheirOrder) {
  EXPECT_EQ(JsonString("can't \"x\"\\\n\t\x01"), "\"can't \\\"x\\\"\\\\\\n\\t\\u0001\"");
  JsonObject o;
  o.Add("b", "x").Add("a", 3).Add("ok", false).AddRaw("list", JsonArray({"1", "\"2\""}));
  EXPECT_EQ(o.Text(), "{\"b\":\"x\",\"a\":3,\"ok\":false,\"list\":[1,\"2\"]}");
  EXPECT_EQ(JsonObject().Text(), "{}");
}

}  // namespace
}  // namespace qx::cli
