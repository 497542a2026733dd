#pragma once

// The simulated QX-K40VII's command side: host bytes in, printer bytes out.
//
// One PrinterEngine is one printer. Each way in (a TCP connection, the serial pty, a
// simulated USB device, a test) is a HostLink: the host's bytes written to a link are
// parsed as commands or print data, and the printer's replies to them are read back
// from the same link. The printer's state (model setting, setting mode, restart, print
// capture, log, faults) is shared by all links.
//
// Commands (everything else is print data):
//   10 14 12 00 03             identify       -> "7MC" + model name + 00
//   1D 49 41                   firmware       -> "_" + firmware text + 00
//   1D 28 45 02 00 06 7F       setting query  -> 37 27 31 32 37 1F d 00
//   1D 28 45 03 00 01 49 4E    enter setting  -> 37 20 00
//   1D 28 45 04 00 05 7F vv 00 write setting  (setting mode only; active after the restart)
//   1D 28 45 04 00 02 4F 55 54 leave setting  (setting mode only) -> restart
// Other 1D 49 n and 1D 28 45 pL pH ... sequences are swallowed without a reply.
//
// Restart: after LeaveSettingMode the printer is unreachable for RestartMs: links
// take no bytes and give none, queued replies are lost, and transports refuse or close
// connections and stay silent. Then it is back, with the written setting active.
//
// Time comes only from the Clock given at construction; nothing here sleeps or starts a
// thread. Every member may be called from any thread. Sinks (SetLogSink, SetPrintSink)
// run with the engine's lock held and must not call back into the engine.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/engine/clock.h"

namespace qx::sim {

// A binary-safe byte buffer.
using Bytes = std::string;

enum class Command : int {
  Identify = 0,
  Firmware,
  ModelSettingQuery,
  EnterSettingMode,
  WriteModelSetting,
  LeaveSettingMode,
};
inline constexpr int CommandKinds = 6;

// "identify", "firmware", "query", "enter", "write", "leave".
const char* CommandName(Command command);
std::optional<Command> CommandFromName(std::string_view name);

// The wire bytes this printer understands and sends.
namespace wire {
Bytes Identify();
Bytes FirmwareQuery();
Bytes ModelSettingQuery();
Bytes EnterSettingMode();
Bytes WriteModelSetting(std::uint8_t value);
Bytes LeaveSettingMode();
// "QX-K40VII Setting Utility Test Print." 0A 00
Bytes TestPrint();

Bytes IdentifyReply(std::string_view modelName);
Bytes FirmwareReply(std::string_view firmware);
Bytes ModelSettingReply(std::uint8_t digit);
Bytes EnterSettingModeReply();

inline constexpr char Xon = 0x11;
inline constexpr char Xoff = 0x13;
// A one-byte status message and a four-byte automatic status block, as examples of
// the unsolicited messages a host must cope with.
Bytes StatusByte();
Bytes AutoStatusBlock();
}  // namespace wire

// The digit d of the setting-query reply for a stored value: 0..9 become '0'..'9',
// any other byte is reported as it is.
std::uint8_t SettingDigit(std::uint8_t value);

struct PrinterConfig {
  std::string ModelName = "QX-K40VII";
  std::string Firmware = "6.00";
  // The value byte as WriteModelSetting writes it: 00 QX-K40VII, 02 QX-K40V,
  // 03 QX-K40VI (01 or '1' report QX-K40IV).
  std::uint8_t ModelSetting = 0x00;
  // How long the printer is unreachable after LeaveSettingMode.
  std::int64_t RestartMs = 10000;
};

// A misbehaviour of the replies to one command (or to all). Applied in this order:
// Replace, PadTo, DropNul, Insert, then the timing and DisconnectAfter.
struct ReplyFault {
  bool Silent = false;               // no reply at all
  std::optional<Bytes> Replace;      // these bytes instead of the reply
  int PadTo = 0;                     // lengthen a block reply to this many bytes (filler before the NUL)
  bool DropNul = false;              // a block reply without its closing NUL
  Bytes Insert;                      // extra bytes (status messages, XON/XOFF) put into the reply
  int InsertAt = 0;                  // before this reply byte: 0 = ahead of the reply, past the end = after it
  int DelayMs = 0;                   // the first byte comes this much later
  int ByteDelayMs = 0;               // each further byte this much after the one before
  int DisconnectAfter = -1;          // hang the link up after this many bytes (-1 = never)
  int Count = -1;                    // number of replies it spoils, then it is gone (-1 = all)
};

enum class Direction { HostToPrinter, PrinterToHost, Note };

struct LogEntry {
  std::int64_t TimeMs = 0;
  Direction Dir = Direction::Note;
  int Link = 0;      // the link's id (0 for notes about the whole printer)
  Bytes Data;        // the bytes, or the text of a note
};

// "   1.234 link 1 host> 10 14 12 00 03", "   1.240 link 1 qx<   37 4D ...",
// "  10.000 note        restart ...".
std::string FormatLogEntry(const LogEntry& entry);
// "10 14 12 00 03"
std::string HexText(std::string_view bytes);

class HostLink;

class PrinterEngine {
 public:
  explicit PrinterEngine(Clock& clock, PrinterConfig config = {});
  PrinterEngine(const PrinterEngine&) = delete;
  PrinterEngine& operator=(const PrinterEngine&) = delete;
  ~PrinterEngine();

  Clock& GetClock() const { return clock_; }

  // Configuration. The model name and firmware take effect with the next reply.
  PrinterConfig Config() const;
  void SetModelName(std::string name);
  void SetFirmware(std::string firmware);
  void SetRestartMs(std::int64_t ms);

  // The active model setting (the one the query reports) and, in setting mode, the
  // value written for the next restart.
  std::uint8_t ModelSetting() const;
  void SetModelSetting(std::uint8_t value);
  std::optional<std::uint8_t> WrittenSetting() const;
  bool InSettingMode() const;

  // Reachability. A restart ends by itself when its time has passed on the clock.
  bool Reachable() const;
  bool Restarting() const;
  // Restarts begun so far (transports close their connections when it changes).
  int RestartCount() const;
  // Milliseconds until the running restart ends (0 when none runs).
  std::int64_t MillisecondsUntilBack() const;
  // A restart as after LeaveSettingMode (a written setting becomes active after it).
  void BeginRestart();
  // Switched off, the printer is unreachable until switched on again.
  void SetPowered(bool on);
  bool Powered() const;

  // Faults of the replies: per command, or for every command without one of its own.
  void SetFault(Command command, const ReplyFault& fault);
  void SetFaultForAll(const ReplyFault& fault);
  void ClearFaults();

  // Bytes sent to every link without being asked (status messages, XON/XOFF); lost
  // while the printer is unreachable.
  void SendUnsolicited(const Bytes& bytes, int delayMs = 0);

  // What the printer has seen and done.
  int CommandsReceived(Command command) const;
  std::vector<std::string> PrintedLines() const;  // complete lines, without LF, CR or NUL
  Bytes PrintData() const;                        // every print data byte as received
  std::vector<LogEntry> Log() const;              // the last MaxLogEntries entries
  Bytes HostBytes() const;                        // every byte the printer took, in order
  Bytes PrinterBytes() const;                     // every byte the printer gave, in order
  void ClearLog();
  // Forgets what was printed (PrintedLines, PrintData), for runs that print for long.
  void ClearPrinted();
  static constexpr std::size_t MaxLogEntries = 100000;

  void SetLogSink(std::function<void(const LogEntry&)> sink);
  void SetPrintSink(std::function<void(const std::string&)> sink);

 private:
  friend class HostLink;
  struct Link;
  struct State;

  int OpenLink();
  void CloseLink(int id);
  bool LinkWrite(int id, std::string_view bytes);
  Bytes LinkRead(int id, std::size_t max);
  bool LinkHungUp(int id) const;
  std::int64_t LinkMillisecondsUntilOutput(int id) const;

  // All below run with lock_ held. The state is mutable because even the observers
  // bring it up to date with the clock first (a restart ends by itself).
  std::int64_t Now() const { return clock_.NowMilliseconds(); }
  void Refresh() const;
  bool ReachableLocked() const;
  void FeedByte(int id, Link& link, char byte);
  void ParsePending(int id, Link& link);
  void PrintByte(Link& link, char byte);
  void Dispatch(int id, Link& link, Command command, std::uint8_t value);
  void Reply(int id, Link& link, Command command, Bytes reply);
  void StartRestart();
  void ResetLinks();
  void AddLog(Direction dir, int link, Bytes data) const;
  void FlushTakenIn() const;
  void Note(std::string text, int link = 0) const;

  Clock& clock_;
  mutable std::mutex lock_;
  std::unique_ptr<State> s_;
};

// One way in to the printer. Open while the object lives; the engine must outlive it.
class HostLink {
 public:
  explicit HostLink(PrinterEngine& engine);
  HostLink(const HostLink&) = delete;
  HostLink& operator=(const HostLink&) = delete;
  ~HostLink();

  int Id() const { return id_; }
  // Host bytes to the printer. False when the printer did not take them (unreachable,
  // or it hung this link up); such bytes are lost.
  bool Write(std::string_view bytes);
  bool Write(const void* data, std::size_t length) {
    return Write(std::string_view(static_cast<const char*>(data), length));
  }
  // Whatever the printer has for the host now, at most `max` bytes; empty while the
  // printer is unreachable or before a late reply is due.
  Bytes Read(std::size_t max = static_cast<std::size_t>(-1));
  bool Reachable() const;
  // True once the printer hung this link up (a DisconnectAfter fault): the bytes before
  // the cut have been read, and the link takes and gives nothing more.
  bool HungUp() const;
  // Milliseconds until the next queued byte is due: 0 now, -1 when nothing is queued.
  std::int64_t MillisecondsUntilOutput() const;

 private:
  PrinterEngine& engine_;
  int id_;
};

}  // namespace qx::sim
