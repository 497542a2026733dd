// The real qxsim program, started by the test and reached from outside over TCP, UDP
// and its pty, the way the demo and tests in other processes use it.

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sim/program/options.h"
#include "support/wait_until.h"
#include "wire_client.h"

extern char** environ;

namespace qx::sim {
namespace {

using qx::test::WaitUntil;
using namespace test;

// qxsim as a child process with its standard output read line by line.
class Qxsim {
 public:
  explicit Qxsim(std::vector<std::string> args) {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    args.insert(args.begin(), QXSIM_PROGRAM);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, QXSIM_PROGRAM, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    out_ = out[0];
  }
  ~Qxsim() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  // The next line of output ("" after `limitMs` or at the end).
  std::string Line(int limitMs = 5000) {
    const std::int64_t end = SteadyMilliseconds() + limitMs;
    while (true) {
      const std::size_t nl = buffer_.find('\n');
      if (nl != std::string::npos) {
        std::string line = buffer_.substr(0, nl);
        buffer_.erase(0, nl + 1);
        output_ += line + "\n";
        return line;
      }
      const std::int64_t left = end - SteadyMilliseconds();
      pollfd fd{out_, POLLIN, 0};
      if (left <= 0 || poll(&fd, 1, static_cast<int>(left)) <= 0) return "";
      char chunk[512];
      const ssize_t n = read(out_, chunk, sizeof chunk);
      if (n <= 0) return "";
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  // Reads lines until one begins with `prefix`; returns the rest of it.
  bool WaitFor(const std::string& prefix, std::string* rest = nullptr, int limitMs = 5000) {
    const std::int64_t end = SteadyMilliseconds() + limitMs;
    while (SteadyMilliseconds() < end) {
      const std::string line = Line(static_cast<int>(end - SteadyMilliseconds()));
      if (line.rfind(prefix, 0) == 0) {
        if (rest) *rest = line.substr(prefix.size());
        return true;
      }
      if (line.empty() && Exited(0)) return false;
    }
    return false;
  }
  // It ends by itself within five seconds with `code`.
  ::testing::AssertionResult EndsWith(int code) {
    if (Exited(5000) && exitCode_ == code) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit code " << exitCode_ << " (-1: still running)\n" << output_;
  }
  bool Exited(int limitMs) {
    const std::int64_t end = SteadyMilliseconds() + limitMs;
    do {
      int status = 0;
      if (!exited_ && waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (exited_) return true;
      SleepMilliseconds(5);
    } while (SteadyMilliseconds() < end);
    return false;
  }
  void Signal(int sig) { kill(pid_, sig); }
  bool Started() const { return pid_ > 0; }
  int ExitCode() const { return exitCode_; }
  const std::string& Output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffer_;
  std::string output_;
  bool exited_ = false;
  int exitCode_ = -1;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(QxsimProgram, AnswersOverTcpUdpAndPtyAndEndsOnSigterm) {
  const std::string log = ::testing::TempDir() + "qxsim-program.log";
  const std::string capture = ::testing::TempDir() + "qxsim-program.prn";
  Qxsim sim({"--address", "127.1.2.1", "--serial", "--log", log, "--print-capture", capture});
  ASSERT_TRUE(sim.Started());
  std::string tcpAt, udpAt, serial;
  ASSERT_TRUE(sim.WaitFor("qxsim: tcp ", &tcpAt)) << sim.Output();
  ASSERT_TRUE(sim.WaitFor("qxsim: udp ", &udpAt)) << sim.Output();
  ASSERT_TRUE(sim.WaitFor("qxsim: serial ", &serial)) << sim.Output();
  ASSERT_TRUE(sim.WaitFor("qxsim: ready")) << sim.Output();
  EXPECT_EQ(tcpAt, "127.1.2.1:9100");
  EXPECT_EQ(udpAt, "127.1.2.1:3289");

  TcpClient tcp;
  ASSERT_TRUE(tcp.Connect({{127, 1, 2, 1}, 9100}));
  const std::pair<Bytes, Bytes> exchanges[] = {
      {Identify, IdentifyReply}, {Firmware, FirmwareReply}, {Query, QueryReply('0')}, {Enter, EnterReply}};
  for (const auto& [command, reply] : exchanges) EXPECT_TRUE(Answers(tcp, command, reply));
  ASSERT_TRUE(tcp.Send(Bytes("QX-K40VII Setting Utility Test Print.\n", 38) + '\0'));

  UdpClient udp;
  ASSERT_TRUE(udp.Open({{127, 1, 2, 101}, 0}));
  Ipv4Endpoint from;
  EXPECT_TRUE(SameBytes(QueryReadyReply, udp.Ask(QueryReady, {{127, 1, 2, 1}, 3289}, &from)));
  EXPECT_EQ(from.Port, 3289);
  const Bytes datagram = udp.Ask(Search, {{127, 1, 2, 1}, 3289});
  ASSERT_EQ(datagram.size(), 14u + 144u);
  EXPECT_TRUE(SameBytes(B({0x5A, 0x45, 0x4D, 0x41, 0x4B, 0x70, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x90}),
                        datagram.substr(0, 14)));
  EXPECT_EQ(datagram.substr(14, 4), "NX-L");

  {
    SerialHost line(serial);
    ASSERT_TRUE(line.Valid()) << serial;
    EXPECT_TRUE(Answers(line, Identify, IdentifyReply));
    EXPECT_TRUE(Answers(line, Query, QueryReply('0')));
  }

  ASSERT_TRUE(sim.WaitFor("qxsim: printed: QX-K40VII Setting Utility Test Print.")) << sim.Output();
  sim.Signal(SIGTERM);
  ASSERT_TRUE(sim.WaitFor("qxsim: stopped")) << sim.Output();
  ASSERT_TRUE(sim.EndsWith(0));
  EXPECT_EQ(ReadFile(capture), "QX-K40VII Setting Utility Test Print.\n");
  const std::string logText = ReadFile(log);
  EXPECT_NE(logText.find(" host> 10 14 12 00 03\n"), std::string::npos) << logText;
  EXPECT_NE(logText.find(" qx<   37 4D 43 51 58 2D 4B 34 30 56 49 49 00\n"), std::string::npos);
  EXPECT_NE(logText.find(" host> 5A 45 4D 41 4B 51 03 00 00 20 00 00 00 00\n"), std::string::npos);
}

TEST(QxsimProgram, ModelChangeRestartsThePrinterWithTheNewSetting) {
  Qxsim sim({"--address", "127.1.2.2", "--restart-ms", "300", "--setting", "QX-K40V", "--no-udp"});
  ASSERT_TRUE(sim.WaitFor("qxsim: ready")) << sim.Output();
  TcpClient tcp;
  ASSERT_TRUE(tcp.Connect({{127, 1, 2, 2}, 9100}));
  EXPECT_TRUE(Answers(tcp, Query, QueryReply('2')));
  EXPECT_TRUE(Answers(tcp, Enter, EnterReply));
  ASSERT_TRUE(tcp.Send(Write(0x03) + Leave));
  EXPECT_TRUE(tcp.ClosedByPeer());
  ASSERT_TRUE(sim.WaitFor("qxsim: restarting")) << sim.Output();
  ASSERT_TRUE(sim.WaitFor("qxsim: back, model setting 03")) << sim.Output();
  TcpClient again;
  ASSERT_TRUE(WaitUntil([&] { return again.Connect({{127, 1, 2, 2}, 9100}); }, std::chrono::seconds(5)));
  EXPECT_TRUE(Answers(again, Query, QueryReply('3')));
  sim.Signal(SIGINT);
  EXPECT_TRUE(sim.EndsWith(0));
}

TEST(QxsimProgram, FaultsAndIdentityOptionsReachTheWire) {
  Qxsim sim({"--address", "127.1.2.3", "--model", "QX-K30", "--fault", "firmware:silent", "--fault",
             "udp.ready:data=01", "--interface", "extended", "--mac", "00:11:62:AB:CD:EF", "--hard-version", "1.90"});
  ASSERT_TRUE(sim.WaitFor("qxsim: ready")) << sim.Output();
  TcpClient tcp;
  ASSERT_TRUE(tcp.Connect({{127, 1, 2, 3}, 9100}));
  ASSERT_TRUE(tcp.Send(Identify + Firmware));
  EXPECT_TRUE(SameBytes("7MCQX-K30" + Bytes(1, '\0'), tcp.Read(100, 500)));  // and no firmware reply
  UdpClient udp;
  ASSERT_TRUE(udp.Open({{127, 1, 2, 103}, 0}));
  EXPECT_TRUE(SameBytes(QueryReadyReply.substr(0, 14) + '\x01', udp.Ask(QueryReady, {{127, 1, 2, 3}, 3289})));
  const Bytes datagram = udp.Ask(Search, {{127, 1, 2, 3}, 3289});
  ASSERT_EQ(datagram.size(), 158u);
  EXPECT_TRUE(SameBytes(B({0xE0, 0x00}), datagram.substr(10, 2)));
  EXPECT_TRUE(SameBytes(B({0x01, 0x90}), datagram.substr(14 + 36, 2)));
  EXPECT_TRUE(SameBytes(B({0x00, 0x11, 0x62, 0xAB, 0xCD, 0xEF}), datagram.substr(14 + 40, 6)));
  EXPECT_EQ(datagram[14 + 61], 0x04);
}

TEST(QxsimProgram, LifetimeEndsItByItself) {
  Qxsim sim({"--address", "127.1.2.4", "--lifetime", "0.3"});
  ASSERT_TRUE(sim.WaitFor("qxsim: ready")) << sim.Output();
  ASSERT_TRUE(sim.WaitFor("qxsim: lifetime over")) << sim.Output();
  EXPECT_TRUE(sim.EndsWith(0));
}

TEST(QxsimProgram, BadCommandLinesAndTakenAddressesFail) {
  Qxsim bad({"--fault", "nothing:silent"});
  ASSERT_TRUE(bad.WaitFor("qxsim: unknown fault target")) << bad.Output();
  EXPECT_TRUE(bad.EndsWith(2));

  Qxsim first({"--address", "127.1.2.5", "--no-udp"});
  ASSERT_TRUE(first.WaitFor("qxsim: ready")) << first.Output();
  Qxsim second({"--address", "127.1.2.5", "--no-udp"});
  ASSERT_TRUE(second.WaitFor("qxsim: cannot listen on tcp 127.1.2.5:9100")) << second.Output();
  EXPECT_TRUE(second.EndsWith(1));
}

TEST(QxsimOptions, ReadsEveryOption) {
  ProgramOptions options;
  std::string error;
  ASSERT_TRUE(ParseProgramOptions({"--address", "127.1.2.9", "--tcp-port", "9101", "--udp-port", "0x0CDA",
                                   "--setting", "0x31", "--firmware", "6.10", "--restart-ms", "0",
                                   "--soft-version", "A.05", "--byte61", "8", "--ready-byte", "1",
                                   "--basic-status", "5", "--extended-status", "4", "--model-prefix", "KOLV",
                                   "--identity", "NX-L71", "--serial-link", "/tmp/x", "--lifetime", "2.5"},
                                  options, error))
      << error;
  const SimulatedPrinterOptions& p = options.Printer;
  EXPECT_EQ(p.Address, (Ipv4Address{127, 1, 2, 9}));
  EXPECT_EQ(p.TcpPort, 9101);
  EXPECT_EQ(p.UdpPort, 3290);
  EXPECT_EQ(p.Printer.ModelSetting, 0x31);
  EXPECT_EQ(p.Printer.Firmware, "6.10");
  EXPECT_EQ(p.Printer.RestartMs, 0);
  EXPECT_EQ(p.Zemak.SoftMajor, 0x0A);
  EXPECT_EQ(p.Zemak.SoftMinor, 0x05);
  EXPECT_EQ(p.Zemak.Byte61, 8);
  EXPECT_EQ(p.Zemak.ReadyByte, 1);
  EXPECT_EQ(p.Zemak.BasicStatus, 5);
  EXPECT_EQ(p.Zemak.ModelPrefix, "KOLV");
  EXPECT_EQ(p.Zemak.Identity, "NX-L71");
  EXPECT_TRUE(p.Serial);
  EXPECT_EQ(p.SerialLink, "/tmp/x");
  EXPECT_DOUBLE_EQ(options.LifetimeSeconds, 2.5);

  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"--address", "nowhere"}, {"--tcp-port", "70000"}, {"--setting", "QX-K40"}, {"--mac", "00:11"},
           {"--hard-version", "1"}, {"--lifetime", "-1"}, {"--model"}, {"--what"}, {"--interface", "odd"}}) {
    EXPECT_FALSE(ParseProgramOptions(bad, options, error)) << bad[0];
  }
}

}  // namespace
}  // namespace qx::sim
