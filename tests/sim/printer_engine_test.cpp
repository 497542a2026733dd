#include "sim/engine/printer_engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "wire_client.h"

namespace qx::sim {
namespace {

using namespace test;

class PrinterEngineTest : public ::testing::Test {
 protected:
  FakeClock clock{1000};
  PrinterEngine printer{clock};
  HostLink host{printer};

  Bytes Ask(const Bytes& command) {
    EXPECT_TRUE(host.Write(command));
    return host.Read();
  }
  // Setting mode, a value, leaving it: the printer restarts.
  void ChangeSetting(int value) {
    ASSERT_TRUE(SameBytes(EnterReply, Ask(Enter)));
    ASSERT_TRUE(host.Write(Write(value)));
    ASSERT_TRUE(host.Write(Leave));
  }
};

TEST_F(PrinterEngineTest, EveryCommandGetsItsReplyByteForByte) {
  EXPECT_TRUE(SameBytes(B({0x37, 0x4D, 0x43, 'Q', 'X', '-', 'K', '4', '0', 'V', 'I', 'I', 0x00}), Ask(Identify)));
  EXPECT_TRUE(SameBytes(B({0x5F, '6', '.', '0', '0', 0x00}), Ask(Firmware)));
  EXPECT_TRUE(SameBytes(B({0x37, 0x27, 0x31, 0x32, 0x37, 0x1F, 0x30, 0x00}), Ask(Query)));
  EXPECT_TRUE(SameBytes(EnterReply, Ask(Enter)));
  EXPECT_TRUE(printer.InSettingMode());
  // The setting write and the leave command have no reply.
  EXPECT_TRUE(SameBytes("", Ask(Write(0x03))));
  EXPECT_EQ(printer.WrittenSetting(), 0x03);
  EXPECT_EQ(printer.CommandsReceived(Command::Identify), 1);
  EXPECT_EQ(printer.CommandsReceived(Command::WriteModelSetting), 1);
}

TEST_F(PrinterEngineTest, CommandsSplitOrJoinedAreUnderstoodTheSame) {
  const Bytes all = Identify + Firmware + Query;
  for (char b : all) host.Write(Bytes(1, b));
  EXPECT_TRUE(SameBytes(IdentifyReply + FirmwareReply + QueryReply('0'), host.Read()));
  host.Write(all);
  EXPECT_TRUE(SameBytes(IdentifyReply + FirmwareReply + QueryReply('0'), host.Read()));
  EXPECT_TRUE(printer.PrintData().empty());
  // Read hands out at most what is asked for, the rest stays.
  host.Write(Identify);
  EXPECT_TRUE(SameBytes("7MC", host.Read(3)));
  EXPECT_TRUE(SameBytes("QX-K40VII" + Bytes(1, '\0'), host.Read()));
}

TEST_F(PrinterEngineTest, ConfiguredModelAndFirmwareAreReported) {
  printer.SetModelName("QX-K30");
  printer.SetFirmware("5.10");
  EXPECT_TRUE(SameBytes("7MCQX-K30" + Bytes(1, '\0'), Ask(Identify)));
  EXPECT_TRUE(SameBytes("_5.10" + Bytes(1, '\0'), Ask(Firmware)));
  printer.SetFirmware("");
  EXPECT_TRUE(SameBytes(B({0x5F, 0x00}), Ask(Firmware)));
}

TEST_F(PrinterEngineTest, NewSettingIsActiveAfterTheRestartAndSurvivesTheNext) {
  printer.SetRestartMs(40000);
  ChangeSetting(0x03);
  EXPECT_TRUE(printer.Restarting());
  EXPECT_FALSE(printer.Reachable());
  EXPECT_FALSE(host.Reachable());
  EXPECT_EQ(printer.RestartCount(), 1);
  EXPECT_FALSE(printer.InSettingMode());
  // Unreachable: nothing is taken, nothing comes back.
  EXPECT_FALSE(host.Write(Query));
  EXPECT_TRUE(host.Read().empty());
  clock.Advance(39999);
  EXPECT_FALSE(printer.Reachable());
  EXPECT_EQ(printer.MillisecondsUntilBack(), 1);
  clock.Advance(1);
  EXPECT_TRUE(printer.Reachable());
  EXPECT_EQ(printer.ModelSetting(), 0x03);
  EXPECT_TRUE(SameBytes(QueryReply('3'), Ask(Query)));
  // A restart without a new value keeps the setting.
  printer.BeginRestart();
  clock.Advance(40000);
  EXPECT_TRUE(SameBytes(QueryReply('3'), Ask(Query)));
}

TEST_F(PrinterEngineTest, EachValueIsReportedByItsDigitAndOthersAsGiven) {
  printer.SetRestartMs(0);  // back at once
  const std::pair<int, int> cases[] = {{0x00, '0'}, {0x02, '2'}, {0x03, '3'}, {0x01, '1'},
                                       {0x31, '1'}, {0x41, 'A'}, {0xFF, 0xFF}};
  for (auto [value, digit] : cases) {
    ChangeSetting(value);
    ASSERT_TRUE(printer.Reachable());
    EXPECT_TRUE(SameBytes(QueryReply(digit), Ask(Query))) << "value " << value;
  }
  EXPECT_EQ(printer.RestartCount(), 7);
}

TEST_F(PrinterEngineTest, SettingCommandsOutsideSettingModeAreIgnored) {
  host.Write(Write(0x02));
  host.Write(Leave);
  EXPECT_TRUE(printer.Reachable());
  EXPECT_EQ(printer.RestartCount(), 0);
  EXPECT_FALSE(printer.WrittenSetting().has_value());
  EXPECT_TRUE(SameBytes(QueryReply('0'), Ask(Query)));
  EXPECT_TRUE(printer.PrintData().empty());  // swallowed, not printed
}

TEST_F(PrinterEngineTest, RestartLosesWhatFollowsAndWhatWasQueued) {
  printer.SetRestartMs(100);
  printer.SetFault(Command::Firmware, With(&ReplyFault::DelayMs, 500));
  host.Write(Enter);
  host.Write(Firmware);  // its reply is still queued when the printer goes down
  EXPECT_TRUE(SameBytes(EnterReply, host.Read()));
  ASSERT_TRUE(host.Write(Write(0x02) + Leave + Identify));
  clock.Advance(100);
  ASSERT_TRUE(printer.Reachable());
  clock.Advance(1000);
  EXPECT_TRUE(host.Read().empty());
  EXPECT_EQ(printer.CommandsReceived(Command::Identify), 0);
  EXPECT_EQ(printer.ModelSetting(), 0x02);
}

TEST_F(PrinterEngineTest, PowerOffMakesThePrinterUnreachableUntilOn) {
  printer.SetPowered(false);
  EXPECT_FALSE(printer.Reachable());
  EXPECT_FALSE(host.Write(Identify));
  clock.Advance(1000000);
  EXPECT_FALSE(printer.Reachable());
  printer.SetPowered(true);
  EXPECT_TRUE(SameBytes(IdentifyReply, Ask(Identify)));
}

TEST_F(PrinterEngineTest, TestPrintIsCapturedAsOneLine) {
  std::vector<std::string> sunk;
  printer.SetPrintSink([&](const std::string& line) { sunk.push_back(line); });
  const Bytes testPrint = Bytes("QX-K40VII Setting Utility Test Print.") + '\x0A' + '\0';
  ASSERT_EQ(testPrint.size(), 39u);
  host.Write(Identify + Firmware);
  host.Read();
  host.Write(testPrint);
  EXPECT_TRUE(host.Read().empty());
  EXPECT_TRUE(SameBytes(testPrint, printer.PrintData()));
  ASSERT_EQ(printer.PrintedLines().size(), 1u);
  EXPECT_EQ(printer.PrintedLines()[0], "QX-K40VII Setting Utility Test Print.");
  EXPECT_EQ(sunk, printer.PrintedLines());
  EXPECT_TRUE(SameBytes(testPrint, wire::TestPrint()));
}

TEST_F(PrinterEngineTest, OnlyCompleteLinesArePrinted) {
  host.Write("first\r\nsec");
  EXPECT_EQ(printer.PrintedLines(), std::vector<std::string>{"first"});
  host.Write("ond\n");
  EXPECT_EQ(printer.PrintedLines(), (std::vector<std::string>{"first", "second"}));
}

TEST_F(PrinterEngineTest, NearMissesArePrintDataAndForeignSequencesAreSwallowed) {
  // Not quite the identify command, and a command of another kind: printed as they are.
  host.Write(B({0x10, 0x14, 0x12, 0x00, 0x04}));
  host.Write(B({0x1D, 0x21, 0x00}));
  EXPECT_TRUE(SameBytes(B({0x10, 0x14, 0x12, 0x00, 0x04, 0x1D, 0x21, 0x00}), printer.PrintData()));
  EXPECT_TRUE(host.Read().empty());
  // A near miss followed by a real command: the command still counts.
  host.Write(B({0x10, 0x14}) + Identify);
  EXPECT_TRUE(SameBytes(IdentifyReply, host.Read()));
  // Other GS I and GS ( E sequences, short and long, vanish without a reply.
  const std::size_t printed = printer.PrintData().size();
  EXPECT_EQ(printed, 10u);  // the bytes 10 14 of the near miss joined the print data
  host.Write(B({0x1D, 0x49, 0x42}));
  host.Write(B({0x1D, 0x28, 0x45, 0x02, 0x00, 0x06, 0x7E}));
  Bytes big = B({0x1D, 0x28, 0x45, 0x2C, 0x01});  // 300 data bytes
  big += Bytes(300, '\x0A');
  host.Write(big);
  EXPECT_TRUE(host.Read().empty());
  EXPECT_EQ(printer.PrintData().size(), printed);
  EXPECT_TRUE(SameBytes(IdentifyReply, Ask(Identify)));
}

TEST_F(PrinterEngineTest, UnsolicitedBytesGoToEveryLinkWhileReachable) {
  HostLink second(printer);
  printer.SendUnsolicited(wire::StatusByte() + wire::AutoStatusBlock());
  EXPECT_TRUE(SameBytes(B({0x12, 0x10, 0x00, 0x00, 0x00}), host.Read()));
  EXPECT_TRUE(SameBytes(B({0x12, 0x10, 0x00, 0x00, 0x00}), second.Read()));
  printer.SendUnsolicited(B({0x13}), 50);
  EXPECT_EQ(host.MillisecondsUntilOutput(), 50);
  EXPECT_TRUE(host.Read().empty());
  clock.Advance(50);
  EXPECT_TRUE(SameBytes(B({0x13}), host.Read()));
  EXPECT_EQ(host.MillisecondsUntilOutput(), -1);
  printer.SetPowered(false);
  printer.SendUnsolicited(B({0x12}));
  printer.SetPowered(true);
  EXPECT_TRUE(host.Read().empty());
}

TEST_F(PrinterEngineTest, SilenceAppliesToItsCommandAndCountRunsOut) {
  printer.SetFault(Command::Firmware, With(&ReplyFault::Silent, true, &ReplyFault::Count, 1));
  EXPECT_TRUE(SameBytes(IdentifyReply, Ask(Identify)));
  EXPECT_TRUE(SameBytes("", Ask(Firmware)));
  EXPECT_TRUE(SameBytes(FirmwareReply, Ask(Firmware)));

  printer.SetFaultForAll(With(&ReplyFault::Silent, true));
  // Its own fault wins over the one for all.
  printer.SetFault(Command::EnterSettingMode, With(&ReplyFault::Replace, B({0x37, 0x20, 0x01})));
  EXPECT_TRUE(SameBytes("", Ask(Identify)));
  EXPECT_TRUE(SameBytes("", Ask(Query)));
  EXPECT_TRUE(SameBytes(B({0x37, 0x20, 0x01}), Ask(Enter)));
  EXPECT_TRUE(printer.InSettingMode());  // the printer did what it was told all the same
  printer.ClearFaults();
  EXPECT_TRUE(SameBytes(IdentifyReply, Ask(Identify)));
}

TEST_F(PrinterEngineTest, ReplyShapesCanBeSpoiled) {
  // A status byte ahead of the reply.
  printer.SetFault(Command::Identify, With(&ReplyFault::Insert, wire::StatusByte()));
  EXPECT_TRUE(SameBytes(B({0x12}) + IdentifyReply, Ask(Identify)));

  // XOFF/XON in the middle.
  printer.SetFault(Command::Identify, With(&ReplyFault::Insert, B({0x13, 0x11}), &ReplyFault::InsertAt, 3));
  EXPECT_TRUE(SameBytes("7MC" + B({0x13, 0x11}) + "QX-K40VII" + Bytes(1, '\0'), Ask(Identify)));

  // An auto status block after it.
  printer.SetFault(Command::EnterSettingMode,
                   With(&ReplyFault::Insert, wire::AutoStatusBlock(), &ReplyFault::InsertAt, 1000));
  EXPECT_TRUE(SameBytes(B({0x37, 0x20, 0x00, 0x10, 0x00, 0x00, 0x00}), Ask(Enter)));

  printer.SetFault(Command::Firmware, With(&ReplyFault::DropNul, true));
  EXPECT_TRUE(SameBytes("_6.00", Ask(Firmware)));

  printer.SetFault(Command::Identify, With(&ReplyFault::PadTo, 600));
  const Bytes padded = Ask(Identify);
  EXPECT_EQ(padded.size(), 600u);
  EXPECT_EQ(padded.substr(0, 12), "7MCQX-K40VII");
  EXPECT_EQ(padded.back(), '\0');
  EXPECT_EQ(padded.find('\0'), 599u);

  // A two-digit value: byte 7 is not NUL.
  printer.SetFault(Command::ModelSettingQuery, With(&ReplyFault::Replace, QueryReply('2') + Bytes(1, '2')));
  EXPECT_TRUE(SameBytes(B({0x37, 0x27, 0x31, 0x32, 0x37, 0x1F, 0x32, 0x00, 0x32}), Ask(Query)));
}

TEST_F(PrinterEngineTest, LateRepliesAndSlowBytesFollowTheClock) {
  printer.SetFault(Command::Firmware, With(&ReplyFault::DelayMs, 2500, &ReplyFault::ByteDelayMs, 100));
  host.Write(Firmware);
  EXPECT_EQ(host.MillisecondsUntilOutput(), 2500);
  clock.Advance(2499);
  EXPECT_TRUE(host.Read().empty());
  clock.Advance(1);
  EXPECT_TRUE(SameBytes("_", host.Read()));
  clock.Advance(99);
  EXPECT_TRUE(host.Read().empty());
  clock.Advance(1);
  EXPECT_TRUE(SameBytes("6", host.Read()));
  clock.Advance(300);
  EXPECT_TRUE(SameBytes(".00", host.Read()));
  clock.Advance(100);
  EXPECT_TRUE(SameBytes(Bytes(1, '\0'), host.Read()));
  // A reply asked for later never overtakes a late one.
  host.Write(Firmware + Identify);
  clock.Advance(2500 + 500);
  EXPECT_TRUE(SameBytes(FirmwareReply + IdentifyReply, host.Read()));
}

TEST_F(PrinterEngineTest, DisconnectCutsTheReplyAndTheLink) {
  printer.SetFault(Command::Identify, With(&ReplyFault::DisconnectAfter, 4));
  host.Write(Identify);
  EXPECT_FALSE(host.HungUp());
  EXPECT_TRUE(SameBytes("7MCQ", host.Read()));
  EXPECT_TRUE(host.HungUp());
  EXPECT_FALSE(host.Reachable());
  EXPECT_FALSE(host.Write(Firmware));
  EXPECT_TRUE(host.Read().empty());
  // Another link is not affected.
  HostLink other(printer);
  printer.ClearFaults();
  other.Write(Identify);
  EXPECT_TRUE(SameBytes(IdentifyReply, other.Read()));
}

TEST_F(PrinterEngineTest, LogRecordsEveryByteWithDirectionLinkAndTime) {
  std::vector<std::string> lines;
  printer.SetLogSink([&](const LogEntry& e) { lines.push_back(FormatLogEntry(e)); });
  host.Write(Identify);
  clock.Advance(5);
  host.Read();
  const std::vector<LogEntry> log = printer.Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].Dir, Direction::HostToPrinter);
  EXPECT_EQ(log[0].TimeMs, 1000);
  EXPECT_EQ(log[0].Link, host.Id());
  EXPECT_TRUE(SameBytes(Identify, log[0].Data));
  EXPECT_EQ(log[1].Dir, Direction::PrinterToHost);
  EXPECT_EQ(log[1].TimeMs, 1005);
  EXPECT_TRUE(SameBytes(IdentifyReply, log[1].Data));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "1.000 link " + std::to_string(host.Id()) + " host> 10 14 12 00 03");
  EXPECT_EQ(lines[1].substr(0, 24), "1.005 link " + std::to_string(host.Id()) + " qx<   37 4D");

  // Bytes that cause a restart come before its note; the ones after it are lost.
  printer.ClearLog();
  printer.SetRestartMs(100);
  host.Write(Enter);
  host.Read();
  host.Write(Write(2) + Leave + Firmware);
  EXPECT_TRUE(SameBytes(Enter + Write(2) + Leave, printer.HostBytes()));
  EXPECT_TRUE(SameBytes(EnterReply, printer.PrinterBytes()));
  bool restartNoted = false, lossNoted = false;
  for (const LogEntry& e : printer.Log()) {
    if (e.Dir != Direction::Note) continue;
    restartNoted = restartNoted || e.Data.find("restart") != std::string::npos;
    lossNoted = lossNoted || e.Data == "lost (unreachable): 1D 49 41";
  }
  EXPECT_TRUE(restartNoted);
  EXPECT_TRUE(lossNoted);
}

TEST(PrinterEngineThreads, LinksOnSeveralThreadsKeepTheirOwnReplies) {
  FakeClock clock;
  PrinterEngine printer(clock);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      HostLink link(printer);
      for (int i = 0; i < 300; ++i) {
        link.Write(Identify);
        link.Write("line\n");
        if (link.Read() != IdentifyReply) ++wrong;
      }
    });
  }
  // Meanwhile the printer is watched and configured from here.
  for (int i = 0; i < 300; ++i) {
    printer.Reachable();
    printer.Log();
    printer.SetFirmware("6.00");
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(printer.PrintedLines().size(), 1200u);
  EXPECT_EQ(printer.CommandsReceived(Command::Identify), 1200);
}

}  // namespace
}  // namespace qx::sim
