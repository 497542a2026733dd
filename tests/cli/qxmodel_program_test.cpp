// qxmodel.exe as a script runs it, under Wine: get, set and print over a pty pair
// mapped to COM1/COM2, whose far end is bridged to the simulated printer's engine.
// Exit codes, standard output and standard error are those of the real process.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

#include "platform/time.h"
#include "serial/pty_bridge.h"
#include "services/service_state.h"
#include "support/wine_service_support.h"
#include "support/wait_until.h"
#include "support/root_devices.h"
#include "sim/engine/printer_engine.h"
#include "sim/transport/real_clock.h"
#include "sim/transport/simulated_printer.h"

// Windows' records are filled by designated initialisers; the fields they leave out are
// meant to be zero.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace qx {
namespace {

using ::testing::HasSubstr;

struct ProgramResult {
  int Exit = -1;
  std::string Out;
  std::string Err;
};

std::string WindowsPath(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path.rfind('\\', 0) == 0 ? "Z:" + path : path;
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string text{std::istreambuf_iterator<char>(file), {}};
  std::erase(text, '\r');  // the console streams are in text mode
  return text;
}

// One qxmodel.exe started with the arguments, its output streams in files.
struct StartedProgram {
  PROCESS_INFORMATION Process{};
  std::string Command;
  std::string OutPath;
  std::string ErrPath;
};

bool StartProgram(const std::string& arguments, StartedProgram& program) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  // Files of their own for each run: an earlier run's file may still be held open for a
  // moment after its program ended, and must never be read as this run's output.
  static int runs = 0;
  const std::string stem = "qxmodel_test_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++runs);
  program.OutPath = stem + "_out.txt";
  program.ErrPath = stem + "_err.txt";
  HANDLE out = CreateFileA(program.OutPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  HANDLE err = CreateFileA(program.ErrPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) {
    ADD_FAILURE() << "cannot create the output files " << stem << ": " << GetLastError();
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
    return false;
  }
  STARTUPINFOA startup{.cb = sizeof(STARTUPINFOA), .dwFlags = STARTF_USESTDHANDLES,
                       .hStdInput = GetStdHandle(STD_INPUT_HANDLE), .hStdOutput = out, .hStdError = err};
  program.Command = "\"" + WindowsPath(QXMODEL_EXE) + "\" " + arguments;
  const BOOL started = CreateProcessA(nullptr, program.Command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                      &startup, &program.Process);
  CloseHandle(out);
  CloseHandle(err);
  if (!started) ADD_FAILURE() << "cannot start " << program.Command << ": " << GetLastError();
  return started != FALSE;
}

ProgramResult FinishProgram(StartedProgram& program) {
  ProgramResult result;
  if (WaitForSingleObject(program.Process.hProcess, 60000) != WAIT_OBJECT_0) {
    TerminateProcess(program.Process.hProcess, 99);
    ADD_FAILURE() << program.Command << " did not end";
  }
  DWORD code = 0;
  GetExitCodeProcess(program.Process.hProcess, &code);
  CloseHandle(program.Process.hThread);
  CloseHandle(program.Process.hProcess);
  result.Exit = static_cast<int>(code);
  result.Out = ReadText(program.OutPath);
  result.Err = ReadText(program.ErrPath);
  DeleteFileA(program.OutPath.c_str());
  DeleteFileA(program.ErrPath.c_str());
  return result;
}

ProgramResult RunProgram(const std::string& arguments) {
  StartedProgram program;
  if (!StartProgram(arguments, program)) return {};
  return FinishProgram(program);
}

class QxModelProgram : public ::testing::Test {
 protected:
  sim::RealClock clock;
  sim::PrinterEngine printer{clock, {.ModelName = "QX-K40VII", .Firmware = "6.00", .ModelSetting = 0x00,
                                     .RestartMs = 50}};
  test::PtyPeer peer{"COM2"};  // COM1's far end

  void SetUp() override { ASSERT_TRUE(peer.Valid()); }
};

TEST_F(QxModelProgram, GetSetAndPrintOverTheSerialKind) {
  test::PtyBridge bridge(peer, printer);
  printer.SetModelSetting(0x02);
  ProgramResult get = RunProgram("get com1");
  EXPECT_EQ(get.Exit, 0);
  EXPECT_EQ(get.Out, "QX-K40V\n");
  EXPECT_EQ(get.Err, "Information: Getting information was successful.\n");

  ProgramResult set = RunProgram("--json set QX-K40VI com1:9600:none");
  EXPECT_EQ(set.Exit, 0) << set.Err;
  EXPECT_EQ(printer.ModelSetting(), 0x03);
  EXPECT_EQ(set.Out,
            "{\"command\":\"set\",\"port\":\"com1:9600:none\",\"name\":\"COM1\",\"requested\":\"QX-K40VI\","
            "\"model\":\"QX-K40VI\",\"ok\":true,\"exit\":0,\"messages\":[{\"title\":\"Information\",\"text\":\"The "
            "setting change succeeded.\"}]}\n");
  // Not a terminal: no progress line.
  EXPECT_EQ(set.Err, "Information: The setting change succeeded.\n");

  ProgramResult print = RunProgram("print COM1");
  EXPECT_EQ(print.Exit, 0);
  EXPECT_EQ(print.Out, "");
  EXPECT_EQ(print.Err, "Information: Test print was successful.\n");
  ASSERT_TRUE(test::WaitUntil([&] { return printer.PrintedLines().size() == 1; }));
  EXPECT_EQ(printer.PrintedLines(), (std::vector<std::string>{"QX-K40VII Setting Utility Test Print."}));
}

TEST_F(QxModelProgram, FailuresAndBadArguments) {
  ProgramResult badPort = RunProgram("get com0");
  EXPECT_EQ(badPort.Exit, 2);
  EXPECT_EQ(badPort.Err,
            "qxmodel: bad serial port \"com0\": expected com1 to com255, optionally :SPEED[:PARITY]\n"
            "Try \"qxmodel --help\".\n");
  ProgramResult badModel = RunProgram("set QX-K40IV com1");
  EXPECT_EQ(badModel.Exit, 2);
  EXPECT_EQ(badModel.Err,
            "qxmodel: bad model \"QX-K40IV\": expected QX-K40VII, QX-K40VI or QX-K40V\nTry \"qxmodel --help\".\n");
  EXPECT_EQ(peer.ReceiveNow(), "");  // nothing was sent for them
  // Nothing answers on COM2.
  ProgramResult silent = RunProgram("--json get com1");
  EXPECT_EQ(silent.Exit, 1);
  EXPECT_EQ(silent.Err, "Error: Communication error.Can not recognize QX-K40VII.\n");
  EXPECT_THAT(silent.Out, HasSubstr("\"ok\":false,\"exit\":1"));

  ProgramResult absent = RunProgram("get com200");
  EXPECT_EQ(absent.Exit, 1);
  EXPECT_EQ(absent.Err, "Error: This utility can't open communication port.\n");

}

TEST(QxModelProgramNetwork, GetAndPrintOnANetworkedPrinter) {
  sim::SimulatedPrinterOptions options;
  options.Address = {127, 11, 0, 8};
  options.Printer.ModelSetting = 0x03;
  sim::SimulatedPrinter printer(options);
  std::string error;
  ASSERT_TRUE(printer.Start(&error)) << error;

  ProgramResult get = RunProgram("get net:127.11.0.8");
  EXPECT_EQ(get.Exit, 0) << get.Err;
  EXPECT_EQ(get.Out, "QX-K40VI\n");
  ProgramResult print = RunProgram("--json print net:127.11.0.8");
  EXPECT_EQ(print.Exit, 0) << print.Err;
  EXPECT_THAT(print.Out, HasSubstr("\"ok\":true"));
  EXPECT_TRUE(test::WaitUntil([&] { return printer.Printer().PrintedLines().size() == 1; }));
}

// The USB devices SetupAPI lists as present, as PORTs and with the window's names.
TEST(QxModelProgramList, UsbDevicesOfBothClasses) {
  test::RootDevices devices;
  const std::string vendor = devices.Add(test::ToGuid(VendorUsbInterfaceClass));
  const std::string printer = devices.Add(test::ToGuid(UsbPrintInterfaceClass));
  ASSERT_FALSE(vendor.empty());
  ASSERT_FALSE(printer.empty());
  ProgramResult list = RunProgram("list --no-search");
  EXPECT_EQ(list.Exit, 0) << list.Err;
  EXPECT_EQ(list.Out, "usb-000\tUSB-000\t" + vendor + "\nusbprn-000\tUSB PRN-001\t" + printer + "\n");
  EXPECT_EQ(list.Err, "");
}

// Wine's spooler and our test service under a vendor service's name, both put in `mode`.
void PrepareServices(const test::TestService& vendor, int mode) {
  ASSERT_TRUE(vendor.Installed());
  for (const char* name : {"Spooler", "ZemakTovel"}) ASSERT_EQ(ChangeServiceState(SystemServices(), mode, name), 1);
}

// The states Wine's service manager reports, and the way back after a killed run.
TEST(QxModelProgramServices, ListsTheRealStatesAndStartsThemAgain) {
  test::TestService vendor("ZemakTovel", "", WindowsPath(QX_TEST_SERVICE_EXE));
  ASSERT_NO_FATAL_FAILURE(PrepareServices(vendor, ServiceModeStop));

  ProgramResult list = RunProgram("services");
  EXPECT_EQ(list.Exit, 0) << list.Err;
  // Wine lists no dependents of its spooler.
  EXPECT_EQ(list.Out,
            "Spooler\tstopped\tspooler\nZEMAK_DVN_AGENT_SERVICE\tnot installed\tvendor\n"
            "ZEMAK_KTPOS_AGENT_SERVICE\tnot installed\tvendor\nZemakPOSPort\tnot installed\tvendor\n"
            "ZemakTovel\tstopped\tvendor\nZEMAK_Port_Communication_Service\tnot installed\tvendor\n"
            "ZEMAK_Port_Communication_Service_QXS\tnot installed\tvendor\n"
            "ZEMAK_Port_Communication_Service_QXC\tnot installed\tvendor\n");

  ProgramResult start = RunProgram("--json services start");
  EXPECT_EQ(start.Exit, 0) << start.Err;
  EXPECT_EQ(test::RawState("Spooler"), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(test::RawState("ZemakTovel"), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_THAT(start.Out, HasSubstr("{\"service\":\"Spooler\",\"state\":\"running\",\"role\":\"spooler\"}"));
  EXPECT_THAT(start.Out, HasSubstr("\"failed\":[]"));
}

// A program that loads user32 hears of logoff as window messages, not as console
// events: its session window ends the run with the services running again.
TEST(QxModelProgramServices, LogoffWhileStoppingRestartsWhatItStopped) {
  test::TestService vendor("ZemakTovel", "linger=8000", WindowsPath(QX_TEST_SERVICE_EXE));
  ASSERT_NO_FATAL_FAILURE(PrepareServices(vendor, ServiceModeStart));

  StartedProgram program;
  ASSERT_TRUE(StartProgram("--stop-services get com200", program));
  HWND session = nullptr;
  ASSERT_TRUE(test::WaitUntil([&] {
    session = FindWindowA("QxModelSession", nullptr);
    return session != nullptr && test::RawState("ZemakTovel") == SERVICE_STOP_PENDING;
  }, std::chrono::seconds(30)));
  DWORD_PTR answer = 0;
  ASSERT_NE(SendMessageTimeoutA(session, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000, &answer), 0);
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
  SendMessageTimeoutA(session, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 30000, &answer);
  ProgramResult result = FinishProgram(program);
  EXPECT_EQ(result.Exit, 4) << result.Err;
  EXPECT_THAT(result.Err, HasSubstr("qxmodel: interrupted (logoff); the services it stopped were started again\n"));
  EXPECT_EQ(test::RawState("Spooler"), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(test::RawState("ZemakTovel"), static_cast<DWORD>(SERVICE_RUNNING));
}

}  // namespace
}  // namespace qx
