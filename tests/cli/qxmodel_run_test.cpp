// qxmodel's commands end to end in one process: the real command line, the main
// window's logic and port table, and a port kind over the simulated printer's engine.

#include <gtest/gtest.h>

#include <sstream>

#include "cli/qxmodel.h"
#include "services/fake_service_system.h"
#include "sim/engine/printer_engine.h"
#include "sim/transport/real_clock.h"
#include "support/sim_port.h"

namespace qx::cli {
namespace {

class QxModelRun : public ::testing::Test {
 protected:
  sim::RealClock clock;
  // Restarts in a moment: the host's fast waits skip the 40 s, not the real time.
  sim::PrinterEngine printer{clock, {.ModelName = "QX-K40VII", .Firmware = "6.00", .ModelSetting = 0x00,
                                     .RestartMs = 10}};
  PortTable table{[this](int kind) { return std::make_unique<test::TSimPort>(kind, printer); }};
  std::ostringstream out;
  std::ostringstream err;
  Environment env{table, out, err};

  QxModelRun() {
    env.FastWaits = true;
    env.Version = "1.2.3";
  }

  int Run(const std::vector<std::string>& args) {
    out.str("");
    err.str("");
    return RunQxModel(args, env);
  }
};

TEST_F(QxModelRun, GetPrintsTheModelAndTheWindowsMessage) {
  printer.SetModelSetting(0x02);
  EXPECT_EQ(Run({"get", "com3:19200:odd"}), 0);
  EXPECT_EQ(out.str(), "QX-K40V\n");
  EXPECT_EQ(err.str(), "Information: Getting information was successful.\n");
  // The serial entry reached the port as the dialog would have built it.
  auto* port = static_cast<test::TSimPort*>(table.At(KindSerial));
  EXPECT_EQ(port, nullptr);  // the table is torn down after the run
  EXPECT_EQ(table.CreateCount(), 0);

  EXPECT_EQ(Run({"--json", "get", "net:127.11.0.1"}), 0);
  EXPECT_EQ(out.str(),
            "{\"command\":\"get\",\"port\":\"net:127.11.0.1\",\"name\":\"127.11.0.1\",\"model\":\"QX-K40V\","
            "\"ok\":true,\"exit\":0,\"messages\":[{\"title\":\"Information\",\"text\":\"Getting information was "
            "successful.\"}]}\n");
}

TEST_F(QxModelRun, FailuresGiveTheWindowsErrorTextAndExitCodeOne) {
  printer.SetModelName("QX-L9000");
  EXPECT_EQ(Run({"get", "usb-000"}), 1);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), "Error: Communication error.Can not recognize QX-K40VII.\n");

  printer.SetModelName("QX-K40VII");
  printer.SetPowered(false);
  EXPECT_EQ(Run({"--json", "print", "lpt1"}), 1);
  EXPECT_EQ(err.str(), "Error: This utility can't open communication port.\n");
  EXPECT_NE(out.str().find("\"ok\":false,\"exit\":1,\"messages\":[{\"title\":\"Error\",\"text\":\"This utility "
                           "can't open communication port.\"}]"),
            std::string::npos);

  printer.SetPowered(true);
  printer.SetFault(sim::Command::ModelSettingQuery, {.Silent = true});
  EXPECT_EQ(Run({"get", "service:2"}), 1);
  EXPECT_EQ(err.str(), "Error: This utility can't get data from printer.\n");
}

TEST_F(QxModelRun, SetChangesTheModelAndShowsTheWaitOnATerminal) {
  env.ErrIsTerminal = true;
  EXPECT_EQ(Run({"set", "QX-K40VI", "com1"}), 0);
  EXPECT_EQ(printer.ModelSetting(), 0x03);
  EXPECT_EQ(out.str(), "QX-K40VI\n");
  const std::string e = err.str();
  EXPECT_EQ(e.rfind("\rWaiting for the printer to restart: 1%", 0), 0u) << e;
  EXPECT_NE(e.find("\rWaiting for the printer to restart: 100%\nInformation: The setting change succeeded.\n"),
            std::string::npos)
      << e;

  // Not a terminal: no progress line, only the message.
  env.ErrIsTerminal = false;
  EXPECT_EQ(Run({"--json", "set", "qx-k40v", "net:127.11.0.2"}), 0);
  EXPECT_EQ(printer.ModelSetting(), 0x02);
  EXPECT_EQ(err.str(), "Information: The setting change succeeded.\n");
  EXPECT_NE(out.str().find("\"requested\":\"QX-K40V\",\"model\":\"QX-K40V\",\"ok\":true"), std::string::npos)
      << out.str();

  EXPECT_EQ(Run({"set", "QX-K40VII", "usbprn-000"}), 0);
  EXPECT_EQ(printer.ModelSetting(), 0x00);
}

TEST_F(QxModelRun, SetFailsWhenThePrinterConfirmsAnotherModel) {
  // The confirmation names QX-K40V although QX-K40VI was written.
  printer.SetFault(sim::Command::ModelSettingQuery,
                   {.Replace = sim::Bytes("\x37\x27\x31\x32\x37\x1F\x32\x00", 8)});
  EXPECT_EQ(Run({"set", "QX-K40VI", "com1"}), 1);
  EXPECT_EQ(out.str(), "QX-K40V\n");
  EXPECT_EQ(err.str(),
            "Information: The setting change succeeded.\nqxmodel: the printer reports QX-K40V, not QX-K40VI\n");
}

TEST_F(QxModelRun, PrintSendsTheTestLine) {
  EXPECT_EQ(Run({"print", "com2"}), 0);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), "Information: Test print was successful.\n");
  EXPECT_EQ(printer.PrintedLines(), (std::vector<std::string>{"QX-K40VII Setting Utility Test Print."}));
}

TEST_F(QxModelRun, BadArgumentsExitWithTwoBeforeAnyPortIsTouched) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"get"},
      {"get", "com0"},
      {"get", "net:1.2.3"},
      {"set", "QX-K40", "com1"},
      {"set", "com1", "QX-K40VI"},
      {"print", "lpt10"},
      {"info", "usb-xyz"},
      {"frobnicate"},
      {"get", "com1", "--quiet"},
      {"get", "com1", "--stop-services"},  // no service system in this environment
  };
  for (const auto& args : bad) {
    EXPECT_EQ(Run(args), 2) << (args.empty() ? "(none)" : args[0]);
    EXPECT_EQ(err.str().rfind("qxmodel: ", 0), 0u) << err.str();
    EXPECT_NE(err.str().find("Try \"qxmodel --help\"."), std::string::npos);
    EXPECT_EQ(out.str(), "");
  }
  EXPECT_EQ(printer.HostBytes(), "");

  EXPECT_EQ(Run({"--json", "get", "com0"}), 2);
  EXPECT_EQ(out.str(),
            "{\"command\":\"get\",\"error\":\"bad serial port \\\"com0\\\": expected com1 to com255, optionally "
            ":SPEED[:PARITY]\",\"ok\":false,\"exit\":2,\"messages\":[]}\n");
  EXPECT_EQ(Run({"get", "--json", "--bogus"}), 2);
  EXPECT_NE(out.str().find("\"error\":\"unknown option \\\"--bogus\\\"\""), std::string::npos);
}

TEST_F(QxModelRun, ServicesAreStoppedOnlyWhenAskedAndStartedAgainAfterTheExchange) {
  test::FakeServiceSystem services;
  services.Add(L"Spooler", ServiceRunning);
  services.Processes = {};
  env.Services = &services;
  EXPECT_EQ(Run({"get", "com1"}), 0);
  EXPECT_TRUE(services.Log().empty());

  // The spooler is stopped before the printer sees a byte, and started after the last.
  std::vector<std::size_t> bytesAtQuery;
  services.Service(L"Spooler").OnQuery = [&](test::FakeService&, std::int64_t) {
    bytesAtQuery.push_back(printer.HostBytes().size());
  };
  printer.ClearLog();
  EXPECT_EQ(Run({"--stop-services", "get", "com1"}), 0);
  const std::vector<std::string> requests = services.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.front(), "Stop Spooler");
  EXPECT_EQ(requests.back(), "Start Spooler");
  EXPECT_EQ(services.StateOf(L"Spooler"), ServiceRunning);
  ASSERT_FALSE(bytesAtQuery.empty());
  EXPECT_EQ(bytesAtQuery.front(), 0u);
  EXPECT_EQ(bytesAtQuery.back(), printer.HostBytes().size());
  EXPECT_GT(printer.HostBytes().size(), 0u);
  EXPECT_EQ(services.OpenHandles(), 0);
}

TEST_F(QxModelRun, HelpAndVersion) {
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_NE(out.str().find("set MODEL PORT"), std::string::npos);
  EXPECT_EQ(Run({"--version"}), 0);
  EXPECT_EQ(out.str(), "qxmodel 1.2.3\n");
}

TEST_F(QxModelRun, InfoByKind) {
  // The kinds that list write to standard output; their listing becomes the result.
  env.Listing = [](TQXCCC& port) { return "  USB Port          USB00" + std::to_string(port.Kind) + "\n"; };
  EXPECT_EQ(Run({"info", "usbprn-000"}), 0);
  EXPECT_EQ(out.str(), "  USB Port          USB004\n");
  EXPECT_EQ(Run({"--json", "info", "service:1"}), 0);
  EXPECT_NE(out.str().find("\"info\":{\"listing\":\"  USB Port          USB005\\n\"}"), std::string::npos);

  // The serial kind answers from the open device.
  EXPECT_EQ(Run({"info", "com1"}), 0);
  EXPECT_NE(out.str().find("DriverVersion: \nSecondString: "), std::string::npos) << out.str();
  printer.SetPowered(false);
  EXPECT_EQ(Run({"info", "usb-000"}), 1);
  EXPECT_EQ(err.str(), "Error: This utility can't open communication port.\n");

  EXPECT_EQ(Run({"info", "lpt1"}), 1);
  EXPECT_EQ(err.str(), "qxmodel: a parallel port gives no device information\n");

  env.NetworkInfo = [](TQXCCC&, InfoFields& fields) {
    fields = {{"Name", "NX-L71"}, {"MacAddress", "00:11:22:33:44:55"}};
    return true;
  };
  EXPECT_EQ(Run({"--json", "info", "net:127.11.0.3"}), 0);
  EXPECT_NE(out.str().find("\"info\":{\"Name\":\"NX-L71\",\"MacAddress\":\"00:11:22:33:44:55\"}"),
            std::string::npos);
  env.NetworkInfo = [](TQXCCC&, InfoFields&) { return false; };
  EXPECT_EQ(Run({"info", "net:127.11.0.3"}), 1);
  EXPECT_EQ(err.str(), "qxmodel: no identification reply from 127.11.0.3\n");
}

TEST_F(QxModelRun, ListShowsUsbDevicesAndSearchAnswers) {
  env.ListUsbDevices = [] {
    return std::vector<UsbDeviceEntry>{{"usb-000", "USB-000", "\\\\?\\usb#a"}, {"usbprn-000", "USB PRN-001", ""}};
  };
  int searches = 0;
  env.SearchNetwork = [&](int waitMs, std::vector<std::string>& addresses, std::string&) {
    ++searches;
    EXPECT_EQ(waitMs, SearchWaitMs);
    addresses = {"10.0.0.5", "10.0.0.9"};
    return true;
  };
  EXPECT_EQ(Run({"list"}), 0);
  EXPECT_EQ(out.str(), "usb-000\tUSB-000\t\\\\?\\usb#a\nusbprn-000\tUSB PRN-001\t\nnet:10.0.0.5\nnet:10.0.0.9\n");
  EXPECT_EQ(Run({"list", "--json"}), 0);
  EXPECT_EQ(out.str(),
            "{\"command\":\"list\",\"usb\":[{\"port\":\"usb-000\",\"name\":\"USB-000\",\"path\":\"\\\\\\\\?\\\\usb#a\"},"
            "{\"port\":\"usbprn-000\",\"name\":\"USB PRN-001\",\"path\":\"\"}],\"network\":[{\"port\":\"net:10.0.0.5\","
            "\"address\":\"10.0.0.5\"},{\"port\":\"net:10.0.0.9\",\"address\":\"10.0.0.9\"}],\"ok\":true,\"exit\":0,"
            "\"messages\":[]}\n");
  EXPECT_EQ(Run({"list", "--no-search", "--json"}), 0);
  EXPECT_NE(out.str().find("\"network\":null"), std::string::npos);
  EXPECT_EQ(searches, 2);

  env.SearchNetwork = [](int, std::vector<std::string>&, std::string& error) {
    error = "no local IPv4 address";
    return false;
  };
  EXPECT_EQ(Run({"list"}), 1);
  EXPECT_EQ(err.str(), "qxmodel: network search failed: no local IPv4 address\n");
}

}  // namespace
}  // namespace qx::cli
