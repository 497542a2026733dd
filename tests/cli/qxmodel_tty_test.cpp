// qxmodel over serial:PATH off Windows: the tty kind through termios, on the pty of the
// simulated printer, with the real exchange code; and the tty kind's own rules.

#include <gtest/gtest.h>

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "cli/program_run_fixture.h"
#include "port/serial/tty_port_posix.h"
#include "support/wait_until.h"

namespace qx::cli {
namespace {

class QxModelTty : public ProgramRunTest {
 protected:
  void SetUp() override {
    if (!sim::PtyPrinterServer::Available()) GTEST_SKIP() << "no ptys here";
    sim::SimulatedPrinterOptions options;
    options.Tcp = options.Udp = false;
    options.Serial = true;
    Start(options, printer);
    port = "serial:" + printer->SerialPath();
  }

  std::unique_ptr<sim::SimulatedPrinter> printer;
  std::string port;
};

TEST_F(QxModelTty, GetSetAndPrint) {
  printer->Printer().SetModelSetting(0x02);
  EXPECT_EQ(Run({"get", port + ":19200:odd"}), 0) << err.str();
  EXPECT_EQ(out.str(), "QX-K40V\n");
  EXPECT_EQ(err.str(), "Information: Getting information was successful.\n");

  EXPECT_EQ(Run({"--json", "set", "QX-K40VI", port}), 0) << err.str();
  EXPECT_EQ(printer->Printer().ModelSetting(), 0x03);
  EXPECT_NE(out.str().find("\"name\":\"" + printer->SerialPath() + "\",\"requested\":\"QX-K40VI\",\"model\":\"QX-K40VI\""),
            std::string::npos)
      << out.str();

  EXPECT_EQ(Run({"print", port}), 0) << err.str();
  EXPECT_TRUE(test::WaitUntil([&] { return printer->Printer().PrintedLines().size() == 1; }));

  EXPECT_EQ(Run({"get", "serial:/nonexistent/tty"}), 1);
  EXPECT_EQ(err.str(), "Error: This utility can't open communication port.\n");
}

// A link to the tty is the same device: the two never run at once (the second open
// would find the device held).
TEST_F(QxModelTty, AFleetRunsOneDeviceUnderTwoNamesOneAfterTheOther) {
  const std::string link = ::testing::TempDir() + "qxmodel_tty_link";
  std::remove(link.c_str());
  ASSERT_EQ(symlink(printer->SerialPath().c_str(), link.c_str()), 0);
  EXPECT_EQ(Run({"get", "-j", "2", port, "serial:" + link, port}), 0) << out.str();
  EXPECT_EQ(err.str(), "3 ok, 0 failed\n");
  std::remove(link.c_str());
}

// The printer cuts its reply short and its line disappears: the exchange fails in its
// usual time and the port closes cleanly.
TEST_F(QxModelTty, TheDeviceGoesAwayMidReply) {
  printer->Printer().SetFault(sim::Command::Identify, {.DisconnectAfter = 3});
  std::thread unplug([&] {
    test::WaitUntil([&] { return printer->Printer().HostBytes().find("\x10\x14\x12") != std::string::npos; });
    printer->Stop();
  });
  EXPECT_EQ(Run({"get", port}), 1);
  unplug.join();
  EXPECT_EQ(err.str(), "Error: Communication error.Can not recognize QX-K40VII.\n");
}

TEST_F(QxModelTty, TheLineTakesTheSerialTablesAndTheDeviceIsHeldAlone) {
  struct Case {
    int Baud, Parity, StopBits, Flow;
    speed_t Speed;
    tcflag_t Control;  // of PARODD, CMSPAR, CSTOPB, CRTSCTS
    tcflag_t Input;    // of IXON, IXOFF
  };
  // A pty keeps every flag but PARENB (it has no parity to generate).
  const tcflag_t controlMask = PARODD | CMSPAR | CSTOPB | CRTSCTS;
  for (const Case& c : std::vector<Case>{
           {3, 0, 0, 0, B9600, 0, 0},                                  // DTR/DSR: no termios form
           {4, 1, 2, 2, B19200, PARODD | CSTOPB | CRTSCTS, 0},   // odd, RTS/CTS
           {7, 2, 1, 3, B115200, CSTOPB, IXON | IXOFF},         // even, 1.5 stop bits as two
           {1, 3, 0, 6, B2400, PARODD | CMSPAR | CRTSCTS, IXON | IXOFF},  // mark
           {9, 4, 3, 1, B19200, CMSPAR, 0},  // space; baud and stop codes out of the tables
       }) {
    TQXTTY tty(KindSerial, printer->SerialPath());
    PortSettings settings{.SyncMode = 1, .BaudCode = c.Baud, .DataBits = 8, .ParityCode = c.Parity,
                          .StopBitsCode = c.StopBits, .FlowControl = c.Flow};
    ASSERT_EQ(tty.Configure(&settings), 1);
    ASSERT_EQ(tty.Open(), 1);
    termios line{};
    ASSERT_EQ(tcgetattr(static_cast<int>(tty.GetHandle()), &line), 0);
    EXPECT_EQ(cfgetospeed(&line), c.Speed) << c.Baud;
    EXPECT_EQ(line.c_cflag & controlMask, c.Control) << c.Baud;
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF), c.Input) << c.Baud;
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    if (c.Flow == 2) {
      ASSERT_EQ(tty.SetHandshakeBypass(1), 1);
      ASSERT_EQ(tcgetattr(static_cast<int>(tty.GetHandle()), &line), 0);
      EXPECT_EQ(line.c_cflag & CRTSCTS, 0u);
    }

    TQXTTY second(KindSerial, printer->SerialPath());
    EXPECT_EQ(second.Open(), 0);  // held by the first
    EXPECT_EQ(tty.Close(), 1);
    EXPECT_EQ(second.Open(), 1);
  }

  // Gone: writes and reads report nothing moved, close still succeeds.
  TQXTTY tty(KindSerial, printer->SerialPath());
  ASSERT_EQ(tty.Open(), 1);
  printer->Stop();
  int count = -1;
  EXPECT_EQ(tty.Write(0, "\x10\x14\x12\x00\x03", 5, &count), 0);
  EXPECT_EQ(count, 0);
  char byte = 0;
  EXPECT_EQ(tty.Read(&byte, 1, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(tty.Close(), 1);
}

}  // namespace
}  // namespace qx::cli
