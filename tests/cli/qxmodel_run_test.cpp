// qxmodel's commands end to end in one process: the real command line, the main
// window's logic and port table, and a port kind over the simulated printer's engine.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

#include "cli/cli_args.h"
#include "cli/interrupts.h"
#include "cli/qxmodel.h"
#include "support/fake_service_system.h"
#include "sim/engine/printer_engine.h"
#include "sim/transport/real_clock.h"
#include "support/sim_port.h"

namespace qx::cli {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class QxModelRun : public ::testing::Test {
 protected:
  sim::RealClock clock;
  // Restarts in a moment: the host's fast waits skip the 40 s, not the real time.
  sim::PrinterEngine printer{clock, {.ModelName = "QX-K40VII", .Firmware = "6.00", .ModelSetting = 0x00,
                                     .RestartMs = 10}};
  std::ostringstream out;
  std::ostringstream err;
  Environment env{[this](int kind, const PortSpec&) { return std::make_unique<test::TSimPort>(kind, printer); }, out,
                  err};

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

TEST_F(QxModelRun, GetAndPrintGiveTheResultAndTheWindowsMessage) {
  printer.SetModelSetting(0x02);
  EXPECT_EQ(Run({"get", "com3:19200:odd"}), 0);
  EXPECT_EQ(out.str(), "QX-K40V\n");
  EXPECT_EQ(err.str(), "Information: Getting information was successful.\n");

  EXPECT_EQ(Run({"--json", "get", "net:127.11.0.1"}), 0);
  EXPECT_EQ(out.str(),
            "{\"command\":\"get\",\"port\":\"net:127.11.0.1\",\"name\":\"127.11.0.1\",\"model\":\"QX-K40V\","
            "\"ok\":true,\"exit\":0,\"messages\":[{\"title\":\"Information\",\"text\":\"Getting information was "
            "successful.\"}]}\n");

  EXPECT_EQ(Run({"print", "com2"}), 0);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), "Information: Test print was successful.\n");
  EXPECT_EQ(printer.PrintedLines(), (std::vector<std::string>{"QX-K40VII Setting Utility Test Print."}));
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
  EXPECT_THAT(out.str(), HasSubstr("\"ok\":false,\"exit\":1,\"messages\":[{\"title\":\"Error\",\"text\":\"This utility "
                                   "can't open communication port.\"}]"));

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
  EXPECT_THAT(e, StartsWith("\rWaiting for the printer to restart: 1%"));
  EXPECT_THAT(e, HasSubstr("\rWaiting for the printer to restart: 100%\nInformation: The setting change succeeded.\n"));

  // Not a terminal: no progress line, only the message.
  env.ErrIsTerminal = false;
  EXPECT_EQ(Run({"--json", "set", "qx-k40v", "net:127.11.0.2"}), 0);
  EXPECT_EQ(printer.ModelSetting(), 0x02);
  EXPECT_EQ(err.str(), "Information: The setting change succeeded.\n");
  EXPECT_THAT(out.str(), HasSubstr("\"requested\":\"QX-K40V\",\"model\":\"QX-K40V\",\"ok\":true"));

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
    EXPECT_THAT(err.str(), StartsWith("qxmodel: "));
    EXPECT_THAT(err.str(), HasSubstr("Try \"qxmodel --help\"."));
    EXPECT_EQ(out.str(), "");
  }
  EXPECT_EQ(printer.HostBytes(), "");

  EXPECT_EQ(Run({"--json", "get", "com0"}), 2);
  EXPECT_EQ(out.str(),
            "{\"command\":\"get\",\"error\":\"bad serial port \\\"com0\\\": expected com1 to com255, optionally "
            ":SPEED[:PARITY]\",\"ok\":false,\"exit\":2,\"messages\":[]}\n");
  EXPECT_EQ(Run({"get", "--json", "--bogus"}), 2);
  EXPECT_THAT(out.str(), HasSubstr("\"error\":\"unknown option \\\"--bogus\\\"\""));
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
  EXPECT_THAT(out.str(), HasSubstr("set MODEL PORT"));
  EXPECT_EQ(Run({"--version"}), 0);
  EXPECT_EQ(out.str(), "qxmodel 1.2.3\n");
}

TEST_F(QxModelRun, InfoByKind) {
  // The kinds that list write to standard output; their listing becomes the result.
  env.Listing = [](TQXCCC& port) { return "  USB Port          USB00" + std::to_string(port.Kind) + "\n"; };
  EXPECT_EQ(Run({"info", "usbprn-000"}), 0);
  EXPECT_EQ(out.str(), "  USB Port          USB004\n");
  EXPECT_EQ(Run({"--json", "info", "service:1"}), 0);
  EXPECT_THAT(out.str(), HasSubstr("\"info\":{\"listing\":\"  USB Port          USB005\\n\"}"));

  // The serial kind answers from the open device.
  EXPECT_EQ(Run({"info", "com1"}), 0);
  EXPECT_THAT(out.str(), HasSubstr("DriverVersion: \nSecondString: "));
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
  EXPECT_THAT(out.str(), HasSubstr("\"info\":{\"Name\":\"NX-L71\",\"MacAddress\":\"00:11:22:33:44:55\"}"));
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
  // JSON Lines whose "port" is a PORT again.
  EXPECT_EQ(Run({"list", "--json"}), 0);
  EXPECT_EQ(out.str(),
            "{\"port\":\"usb-000\",\"name\":\"USB-000\",\"path\":\"\\\\\\\\?\\\\usb#a\"}\n"
            "{\"port\":\"usbprn-000\",\"name\":\"USB PRN-001\",\"path\":\"\"}\n"
            "{\"port\":\"net:10.0.0.5\",\"address\":\"10.0.0.5\"}\n{\"port\":\"net:10.0.0.9\",\"address\":\"10.0.0.9\"}\n");
  EXPECT_EQ(Run({"list", "--no-search", "--json"}), 0);
  EXPECT_THAT(out.str(), Not(HasSubstr("net:")));
  EXPECT_EQ(searches, 2);

  env.SearchNetwork = [](int, std::vector<std::string>&, std::string& error) {
    error = "no local IPv4 address";
    return false;
  };
  EXPECT_EQ(Run({"list"}), 1);
  EXPECT_EQ(err.str(), "qxmodel: network search failed: no local IPv4 address\n");
}

TEST_F(QxModelRun, FleetsFromArgumentsAndListsAndBadPortsBeforeAnything) {
  const std::string path = ::testing::TempDir() + "qxmodel_ports.txt";
  {
    std::ofstream list(path);
    list << "# the shop\ncom2  # till 1\n\n  usb-001\n";
  }
  EXPECT_EQ(Run({"get", "com1", "--ports-from", path, "-j1"}), 0) << err.str();
  EXPECT_EQ(out.str(), "com1\tQX-K40VII\ncom2\tQX-K40VII\nusb-001\tQX-K40VII\n");
  EXPECT_EQ(err.str(), "3 ok, 0 failed\n");

  std::istringstream in("lpt1\n");
  env.In = &in;
  EXPECT_EQ(Run({"print", "--ports-from", "-"}), 0);
  EXPECT_EQ(out.str(), "lpt1\tok\n");

  // One bad PORT anywhere: exit 2 and not a byte to any printer.
  printer.ClearLog();
  EXPECT_EQ(Run({"--json", "get", "com1", "com0", "lpt1"}), ExitUsage);
  EXPECT_EQ(printer.HostBytes(), "");
  EXPECT_THAT(out.str(), HasSubstr("\"error\":\"bad serial port \\\"com0\\\""));
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"get", "--ports-from", path + ".absent"}, {"get", "--ports-from", "-", "-j", "0"}}) {
    EXPECT_EQ(Run(bad), ExitUsage) << bad[2];
  }
  std::istringstream empty("# nothing\n");
  env.In = &empty;
  EXPECT_EQ(Run({"get", "--ports-from", "-"}), ExitUsage);
  EXPECT_THAT(err.str(), StartsWith("qxmodel: --ports-from -: no PORT in it\n"));
  std::remove(path.c_str());
}

// Ctrl-C in a fleet: the exchange that runs ends (and reports), the rest do not start.
TEST_F(QxModelRun, AnInterruptedFleetFinishesWhatRunsAndNamesWhatDidNot) {
  InterruptTarget* target = nullptr;
  env.WatchInterrupts = [&](InterruptTarget* t) {
    if (t != nullptr) target = t;
  };
  int interruptCode = 0;
  printer.SetLogSink([&](const sim::LogEntry&) {
    if (interruptCode == 0) std::thread([&] { interruptCode = target->Interrupt("SIGINT"); }).join();
  });
  EXPECT_EQ(Run({"--json", "set", "QX-K40V", "com1", "usb-000", "lpt1", "-j", "1"}), ExitInterrupted);
  EXPECT_EQ(interruptCode, -1);  // the run reports by itself
  EXPECT_EQ(printer.ModelSetting(), 0x02);  // the running Set went on to its end
  const std::string o = out.str();
  EXPECT_THAT(o,
              StartsWith("{\"command\":\"set\",\"port\":\"com1\",\"name\":\"COM1\",\"requested\":\"QX-K40V\",\"model\":"
                         "\"QX-K40V\",\"ok\":true,\"exit\":0,"));
  EXPECT_THAT(o, HasSubstr("\n{\"command\":\"set\",\"port\":\"usb-000\",\"name\":\"USB-000\",\"requested\":\"QX-K40V\","
                           "\"error\":\"not run: interrupted\",\"ok\":false,\"exit\":4,\"messages\":[]}\n"));
  EXPECT_THAT(o, HasSubstr("\"port\":\"lpt1\""));
  EXPECT_EQ(err.str(),
            "qxmodel: interrupted (SIGINT); waiting for the running exchanges to end\n1 ok, 0 failed, 2 not run\n");
}

// A machine whose spooler and three vendor services run and one vendor service is
// already stopped.
class QxModelServices : public QxModelRun {
 protected:
  QxModelServices() {
    services.Add(L"Spooler", ServiceRunning);
    services.Add(L"ZemakTovel", ServiceRunning);
    services.Add(L"ZemakPOSPort", ServiceStopped);
    services.Add(L"ZEMAK_DVN_AGENT_SERVICE", ServiceRunning);
    env.Services = &services;
    env.WatchInterrupts = [this](InterruptTarget* target) { watched.push_back(target); };
  }
  void ExpectRestored() {
    EXPECT_EQ(services.StateOf(L"Spooler"), ServiceRunning);
    EXPECT_EQ(services.StateOf(L"ZemakTovel"), ServiceRunning);
    EXPECT_EQ(services.StateOf(L"ZemakPOSPort"), ServiceStopped);  // found stopped: left so
    EXPECT_EQ(services.OpenHandles(), 0);
  }

  test::FakeServiceSystem services;
  std::vector<InterruptTarget*> watched;
};

TEST_F(QxModelServices, RestartsOnlyWhatItStoppedAndNamesWhatItCouldNotStop) {
  services.Service(L"ZEMAK_DVN_AGENT_SERVICE").StopError = ErrorAccessDenied;  // not an administrator
  EXPECT_EQ(Run({"--json", "--stop-services", "get", "com1"}), ExitServices);
  ExpectRestored();
  EXPECT_EQ(services.Requests(), (std::vector<std::string>{"Stop Spooler", "Stop ZEMAK_DVN_AGENT_SERVICE",
                                                           "Stop ZemakTovel", "Start ZemakTovel", "Start Spooler"}));
  EXPECT_THAT(err.str(),
              HasSubstr("qxmodel: service ZEMAK_DVN_AGENT_SERVICE could not be stopped (access denied: run as an "
                        "administrator, code 5)\n"));
  EXPECT_THAT(out.str(),
              HasSubstr("\"model\":\"QX-K40VII\",\"services\":{\"stopped\":[\"Spooler\",\"ZemakTovel\"],"
                        "\"failed\":[{\"service\":\"ZEMAK_DVN_AGENT_SERVICE\",\"action\":\"stop\",\"code\":5}]},"
                        "\"ok\":false,\"exit\":3"));
  // Watched from before the first stop until the report.
  ASSERT_EQ(watched.size(), 2u);
  EXPECT_NE(watched[0], nullptr);
  EXPECT_EQ(watched[1], nullptr);

  // A service that cannot be started again is named and gives 3 too.
  services.Service(L"ZEMAK_DVN_AGENT_SERVICE").StopError = 0;
  services.Service(L"ZemakTovel").StartError = 1058;
  EXPECT_EQ(Run({"--stop-services", "get", "com1"}), ExitServices);
  EXPECT_THAT(err.str(),
              HasSubstr("qxmodel: service ZemakTovel could not be started again (it is disabled, code 1058)\n"));
}

TEST_F(QxModelServices, AnExceptionStillDestroysThePortsAndRestartsTheServices) {
  Environment local{[](int kind, const PortSpec&) -> std::unique_ptr<TQXCCC> {
                      if (kind == KindNetwork) throw std::runtime_error("out of sockets");
                      return nullptr;
                    },
                    out, err};
  local.Services = &services;
  EXPECT_EQ(RunQxModel({"--stop-services", "get", "com1"}, local), ExitFailed);
  EXPECT_EQ(err.str(), "qxmodel: internal error: out of sockets\n");
  ExpectRestored();
  EXPECT_EQ(services.StateOf(L"ZEMAK_DVN_AGENT_SERVICE"), ServiceRunning);
}

TEST_F(QxModelServices, AnInterruptRestartsWhatTheRunStoppedAndReportsOnce) {
  int interruptCode = 0;
  int lateCode = 0;
  // Interrupted in the middle of the exchange, from a thread of its own (as the console
  // handler and the signal thread are); the exchange waits meanwhile. Once reported, a
  // second interrupt leaves the ending to the run.
  printer.SetLogSink([&](const sim::LogEntry&) {
    int& code = interruptCode == 0 ? interruptCode : lateCode;
    if (lateCode == 0) std::thread([&] { code = watched.front()->Interrupt("Ctrl-C"); }).join();
  });
  EXPECT_EQ(Run({"--json", "--stop-services", "get", "com1"}), ExitInterrupted);
  EXPECT_EQ(interruptCode, ExitInterrupted);
  ExpectRestored();
  EXPECT_EQ(services.StateOf(L"ZEMAK_DVN_AGENT_SERVICE"), ServiceRunning);
  EXPECT_THAT(err.str(), HasSubstr("qxmodel: interrupted (Ctrl-C); the services it stopped were started again\n"));
  // One object, the interrupt's; the run that went on afterwards printed nothing more.
  EXPECT_EQ(out.str(),
            "{\"command\":\"get\",\"port\":\"com1\",\"name\":\"COM1\",\"interrupted\":\"Ctrl-C\",\"services\":{"
            "\"stopped\":[\"Spooler\",\"ZEMAK_DVN_AGENT_SERVICE\",\"ZemakTovel\"],\"failed\":[]},\"ok\":false,"
            "\"exit\":4}\n");
  EXPECT_EQ(lateCode, -1);
}

TEST_F(QxModelServices, ServicesListsTheStatesAndServicesStartStartsThemAsTheWindowDoesAtExit) {
  services.Service(L"Spooler").Dependents = {L"Fax"};
  services.Add(L"Fax", ServiceStopped);
  services.Service(L"Spooler").State = ServiceStopped;
  EXPECT_EQ(Run({"services"}), ExitSuccess);
  EXPECT_EQ(out.str(),
            "Spooler\tstopped\tspooler\nFax\tstopped\tspooler dependent\n"
            "ZEMAK_DVN_AGENT_SERVICE\trunning\tvendor\nZEMAK_KTPOS_AGENT_SERVICE\tnot installed\tvendor\n"
            "ZemakPOSPort\tstopped\tvendor\nZemakTovel\trunning\tvendor\n"
            "ZEMAK_Port_Communication_Service\tnot installed\tvendor\n"
            "ZEMAK_Port_Communication_Service_QXS\tnot installed\tvendor\n"
            "ZEMAK_Port_Communication_Service_QXC\tnot installed\tvendor\n");
  EXPECT_TRUE(services.Requests().empty());
  EXPECT_EQ(Run({"--json", "services"}), ExitSuccess);
  EXPECT_THAT(out.str(),
              StartsWith("{\"command\":\"services\",\"services\":[{\"service\":\"Spooler\",\"state\":\"stopped\","
                         "\"role\":\"spooler\"},"));

  services.Service(L"ZemakPOSPort").StartError = 1058;
  EXPECT_EQ(Run({"services", "start"}), ExitServices);
  EXPECT_EQ(services.Requests(), (std::vector<std::string>{"Start ZemakPOSPort", "Start Spooler"}));
  EXPECT_EQ(services.StateOf(L"Spooler"), ServiceRunning);
  EXPECT_EQ(err.str(), "qxmodel: service ZemakPOSPort could not be started again (it is disabled, code 1058)\n");
  EXPECT_THAT(out.str(), StartsWith("Spooler\trunning\tspooler\n"));

  env.Services = nullptr;
  EXPECT_EQ(Run({"services"}), ExitUsage);
  EXPECT_EQ(Run({"--stop-services", "services", "start"}), ExitUsage);
}

#ifndef _WIN32
// The real signal handling: SIGINT or SIGTERM during the exchange ends the process with
// 4 once the services it stopped run again.
TEST_F(QxModelServices, ASignalEndsTheProcessAfterTheRestart) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  services.Service(L"ZemakTovel").OnQuery = [](test::FakeService& s, std::int64_t) {
    std::cerr << "ZemakTovel state " << s.State << std::endl;
  };
  Environment real{env.Ports, std::cout, std::cerr};
  real.FastWaits = true;
  real.Services = &services;
  real.WatchInterrupts = WatchInterrupts;
  for (int signal : {SIGINT, SIGTERM}) {
    printer.SetLogSink([signal](const sim::LogEntry&) {
      kill(getpid(), signal);
      std::this_thread::sleep_for(std::chrono::seconds(20));  // the handling thread ends the process first
    });
    const std::string name = signal == SIGINT ? "SIGINT" : "SIGTERM";
    EXPECT_EXIT(RunQxModel({"--stop-services", "get", "com1"}, real), ::testing::ExitedWithCode(ExitInterrupted),
                "ZemakTovel state 4(.|\n)*interrupted \\(" + name + "\\)");
  }
}
#endif

}  // namespace
}  // namespace qx::cli
