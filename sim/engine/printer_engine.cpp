#include "sim/engine/printer_engine.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>

namespace qx::sim {

namespace {

Bytes Of(std::initializer_list<unsigned char> bytes) {
  Bytes result;
  for (unsigned char b : bytes) result.push_back(static_cast<char>(b));
  return result;
}

const char* const CommandNames[CommandKinds] = {"identify", "firmware", "query", "enter", "write", "leave"};

bool ReplyCommand(Command command) {
  return command == Command::Identify || command == Command::Firmware || command == Command::ModelSettingQuery ||
         command == Command::EnterSettingMode;
}

// What the bytes gathered so far on a link are.
struct Match {
  enum Kind { NeedMore, Print, Found, Swallow } kind = Print;
  Command command = Command::Identify;
  std::uint8_t value = 0;      // the value byte of WriteModelSetting
  std::size_t length = 0;      // bytes used from the pending ones (Found, Swallow)
  std::size_t skipMore = 0;    // further bytes to swallow (Swallow)
};

unsigned char At(const Bytes& bytes, std::size_t i) { return static_cast<unsigned char>(bytes[i]); }

bool Equals(const Bytes& bytes, std::size_t from, std::initializer_list<unsigned char> expected) {
  std::size_t i = from;
  for (unsigned char b : expected) {
    if (i >= bytes.size() || At(bytes, i) != b) return false;
    ++i;
  }
  return true;
}

// Longest data of a GS ( E sequence that is gathered whole before it is judged; longer
// ones are not commands of this printer and are swallowed as they come.
constexpr std::size_t MaxJudgedSettingData = 16;

Match MatchPending(const Bytes& p) {
  Match m;
  const std::size_t n = p.size();
  const unsigned char first = At(p, 0);
  if (first == 0x10) {
    static const unsigned char identify[] = {0x10, 0x14, 0x12, 0x00, 0x03};
    for (std::size_t i = 0; i < n && i < 5; ++i) {
      if (At(p, i) != identify[i]) return m;  // print data after all
    }
    if (n < 5) return {Match::NeedMore};
    return {Match::Found, Command::Identify, 0, 5};
  }
  if (first != 0x1D) return m;
  if (n < 2) return {Match::NeedMore};
  if (At(p, 1) == 0x49) {  // GS I n
    if (n < 3) return {Match::NeedMore};
    if (At(p, 2) == 0x41) return {Match::Found, Command::Firmware, 0, 3};
    return {Match::Swallow, Command::Identify, 0, 3};
  }
  if (At(p, 1) != 0x28) return m;
  if (n < 3) return {Match::NeedMore};
  if (At(p, 2) != 0x45) return m;
  if (n < 5) return {Match::NeedMore};
  const std::size_t dataLength = At(p, 3) + 256u * At(p, 4);
  if (dataLength > MaxJudgedSettingData) return {Match::Swallow, Command::Identify, 0, 5, dataLength};
  if (n < 5 + dataLength) return {Match::NeedMore};
  const std::size_t all = 5 + dataLength;
  if (dataLength == 2 && Equals(p, 5, {0x06, 0x7F})) return {Match::Found, Command::ModelSettingQuery, 0, all};
  if (dataLength == 3 && Equals(p, 5, {0x01, 0x49, 0x4E})) return {Match::Found, Command::EnterSettingMode, 0, all};
  if (dataLength == 4 && Equals(p, 5, {0x05, 0x7F}) && At(p, 8) == 0x00) {
    return {Match::Found, Command::WriteModelSetting, At(p, 7), all};
  }
  if (dataLength == 4 && Equals(p, 5, {0x02, 0x4F, 0x55, 0x54})) {
    return {Match::Found, Command::LeaveSettingMode, 0, all};
  }
  return {Match::Swallow, Command::Identify, 0, all};
}

}  // namespace

const char* CommandName(Command command) { return CommandNames[static_cast<int>(command)]; }

std::optional<Command> CommandFromName(std::string_view name) {
  for (int i = 0; i < CommandKinds; ++i) {
    if (name == CommandNames[i]) return static_cast<Command>(i);
  }
  return std::nullopt;
}

namespace wire {
Bytes Identify() { return Of({0x10, 0x14, 0x12, 0x00, 0x03}); }
Bytes FirmwareQuery() { return Of({0x1D, 0x49, 0x41}); }
Bytes ModelSettingQuery() { return Of({0x1D, 0x28, 0x45, 0x02, 0x00, 0x06, 0x7F}); }
Bytes EnterSettingMode() { return Of({0x1D, 0x28, 0x45, 0x03, 0x00, 0x01, 0x49, 0x4E}); }
Bytes WriteModelSetting(std::uint8_t value) { return Of({0x1D, 0x28, 0x45, 0x04, 0x00, 0x05, 0x7F, value, 0x00}); }
Bytes LeaveSettingMode() { return Of({0x1D, 0x28, 0x45, 0x04, 0x00, 0x02, 0x4F, 0x55, 0x54}); }
Bytes TestPrint() { return Bytes("QX-K40VII Setting Utility Test Print.\n", 38) + '\0'; }

Bytes IdentifyReply(std::string_view modelName) { return "7MC" + Bytes(modelName) + '\0'; }
Bytes FirmwareReply(std::string_view firmware) { return "_" + Bytes(firmware) + '\0'; }
Bytes ModelSettingReply(std::uint8_t digit) { return Of({0x37, 0x27, 0x31, 0x32, 0x37, 0x1F, digit, 0x00}); }
Bytes EnterSettingModeReply() { return Of({0x37, 0x20, 0x00}); }
Bytes StatusByte() { return Of({0x12}); }
Bytes AutoStatusBlock() { return Of({0x10, 0x00, 0x00, 0x00}); }
}  // namespace wire

std::uint8_t SettingDigit(std::uint8_t value) {
  return value <= 9 ? static_cast<std::uint8_t>('0' + value) : value;
}

std::string HexText(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size() * 3);
  char piece[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(piece, sizeof piece, i == 0 ? "%02X" : " %02X", static_cast<unsigned char>(bytes[i]));
    text += piece;
  }
  return text;
}

std::string FormatLogEntry(const LogEntry& entry) {
  char head[64];
  const long long ms = entry.TimeMs;
  const char* sign = ms < 0 ? "-" : "";
  const long long magnitude = ms < 0 ? -ms : ms;
  switch (entry.Dir) {
    case Direction::HostToPrinter:
      std::snprintf(head, sizeof head, "%s%lld.%03lld link %d host> ", sign, magnitude / 1000, magnitude % 1000,
                    entry.Link);
      return head + HexText(entry.Data);
    case Direction::PrinterToHost:
      std::snprintf(head, sizeof head, "%s%lld.%03lld link %d qx<   ", sign, magnitude / 1000, magnitude % 1000,
                    entry.Link);
      return head + HexText(entry.Data);
    case Direction::Note:
      break;
  }
  if (entry.Link != 0) {
    std::snprintf(head, sizeof head, "%s%lld.%03lld link %d note  ", sign, magnitude / 1000, magnitude % 1000,
                  entry.Link);
  } else {
    std::snprintf(head, sizeof head, "%s%lld.%03lld note         ", sign, magnitude / 1000, magnitude % 1000);
  }
  return head + entry.Data;
}

struct PrinterEngine::Link {
  struct Out {
    char byte = 0;
    std::int64_t due = 0;
    bool hangUp = false;  // a marker: the link is cut here
  };
  Bytes pending;          // bytes that may still become a command
  std::size_t skip = 0;   // bytes of a foreign sequence still to swallow
  std::string line;       // the print line being gathered
  std::deque<Out> out;
  bool hungUp = false;

  void Reset() {
    pending.clear();
    skip = 0;
    out.clear();
  }
};

struct PrinterEngine::State {
  PrinterConfig config;
  bool settingMode = false;
  std::optional<std::uint8_t> written;
  bool powered = true;
  bool restarting = false;
  std::int64_t restartEnd = 0;
  int restartCount = 0;
  std::map<Command, ReplyFault> faults;
  std::optional<ReplyFault> faultForAll;
  int commandCounts[CommandKinds] = {};
  std::map<int, std::unique_ptr<Link>> links;
  int nextLinkId = 1;
  std::vector<std::string> printedLines;
  Bytes printData;
  std::vector<LogEntry> log;
  std::size_t logStart = 0;  // the oldest entry once the log has become a ring
  // Host bytes taken by the write in progress, logged as one entry before anything
  // they cause.
  Bytes takenIn;
  int takenInLink = 0;
  std::function<void(const LogEntry&)> logSink;
  std::function<void(const std::string&)> printSink;
};

PrinterEngine::PrinterEngine(Clock& clock, PrinterConfig config) : clock_(clock), s_(std::make_unique<State>()) {
  s_->config = std::move(config);
}

PrinterEngine::~PrinterEngine() = default;

// ---- state kept up to date with the clock ----

void PrinterEngine::Refresh() const {
  State& s = *s_;
  if (!s.restarting || Now() < s.restartEnd) return;
  s.restarting = false;
  if (s.written) s.config.ModelSetting = *s.written;
  s.written.reset();
  char text[64];
  std::snprintf(text, sizeof text, "back after the restart, model setting %02X", s.config.ModelSetting);
  Note(text);
}

bool PrinterEngine::ReachableLocked() const { return s_->powered && !s_->restarting; }

void PrinterEngine::AddLog(Direction dir, int link, Bytes data) const {
  State& s = *s_;
  if (dir != Direction::HostToPrinter || link != s.takenInLink) FlushTakenIn();
  LogEntry entry{Now(), dir, link, std::move(data)};
  if (s.logSink) s.logSink(entry);
  if (s.log.size() < MaxLogEntries) {
    s.log.push_back(std::move(entry));
  } else {
    s.log[s.logStart] = std::move(entry);
    s.logStart = (s.logStart + 1) % MaxLogEntries;
  }
}

void PrinterEngine::FlushTakenIn() const {
  State& s = *s_;
  if (s.takenIn.empty()) return;
  Bytes data;
  data.swap(s.takenIn);
  AddLog(Direction::HostToPrinter, s.takenInLink, std::move(data));
}

void PrinterEngine::Note(std::string text, int link) const { AddLog(Direction::Note, link, std::move(text)); }

// ---- configuration and state ----

PrinterConfig PrinterEngine::Config() const {
  std::lock_guard lock(lock_);
  Refresh();
  return s_->config;
}

void PrinterEngine::SetModelName(std::string name) {
  std::lock_guard lock(lock_);
  s_->config.ModelName = std::move(name);
}

void PrinterEngine::SetFirmware(std::string firmware) {
  std::lock_guard lock(lock_);
  s_->config.Firmware = std::move(firmware);
}

void PrinterEngine::SetRestartMs(std::int64_t ms) {
  std::lock_guard lock(lock_);
  s_->config.RestartMs = ms;
}

std::uint8_t PrinterEngine::ModelSetting() const {
  std::lock_guard lock(lock_);
  Refresh();
  return s_->config.ModelSetting;
}

void PrinterEngine::SetModelSetting(std::uint8_t value) {
  std::lock_guard lock(lock_);
  Refresh();
  s_->config.ModelSetting = value;
}

std::optional<std::uint8_t> PrinterEngine::WrittenSetting() const {
  std::lock_guard lock(lock_);
  Refresh();
  return s_->written;
}

bool PrinterEngine::InSettingMode() const {
  std::lock_guard lock(lock_);
  Refresh();
  return s_->settingMode;
}

bool PrinterEngine::Reachable() const {
  std::lock_guard lock(lock_);
  Refresh();
  return ReachableLocked();
}

bool PrinterEngine::Restarting() const {
  std::lock_guard lock(lock_);
  Refresh();
  return s_->restarting;
}

int PrinterEngine::RestartCount() const {
  std::lock_guard lock(lock_);
  return s_->restartCount;
}

std::int64_t PrinterEngine::MillisecondsUntilBack() const {
  std::lock_guard lock(lock_);
  Refresh();
  return s_->restarting ? s_->restartEnd - Now() : 0;
}

void PrinterEngine::BeginRestart() {
  std::lock_guard lock(lock_);
  Refresh();
  StartRestart();
}

void PrinterEngine::StartRestart() {
  State& s = *s_;
  s.settingMode = false;
  s.restarting = true;
  s.restartEnd = Now() + s.config.RestartMs;
  ++s.restartCount;
  ResetLinks();
  char text[64];
  std::snprintf(text, sizeof text, "restart, unreachable for %lld ms", static_cast<long long>(s.config.RestartMs));
  Note(text);
  Refresh();  // a restart time of 0 ends at once
}

void PrinterEngine::ResetLinks() {
  for (auto& [id, link] : s_->links) link->Reset();
}

void PrinterEngine::SetPowered(bool on) {
  std::lock_guard lock(lock_);
  Refresh();
  State& s = *s_;
  if (s.powered == on) return;
  s.powered = on;
  if (!on) {
    s.settingMode = false;
    s.restarting = false;
    if (s.written) s.config.ModelSetting = *s.written;
    s.written.reset();
    ResetLinks();
    Note("switched off");
  } else {
    Note("switched on");
  }
}

bool PrinterEngine::Powered() const {
  std::lock_guard lock(lock_);
  return s_->powered;
}

void PrinterEngine::SetFault(Command command, const ReplyFault& fault) {
  std::lock_guard lock(lock_);
  s_->faults[command] = fault;
}

void PrinterEngine::SetFaultForAll(const ReplyFault& fault) {
  std::lock_guard lock(lock_);
  s_->faultForAll = fault;
}

void PrinterEngine::ClearFaults() {
  std::lock_guard lock(lock_);
  s_->faults.clear();
  s_->faultForAll.reset();
}

void PrinterEngine::SendUnsolicited(const Bytes& bytes, int delayMs) {
  std::lock_guard lock(lock_);
  Refresh();
  if (!ReachableLocked() || bytes.empty()) return;
  for (auto& [id, link] : s_->links) {
    if (link->hungUp) continue;
    std::int64_t due = Now() + delayMs;
    if (!link->out.empty()) due = std::max(due, link->out.back().due);
    for (char b : bytes) link->out.push_back({b, due, false});
  }
}

int PrinterEngine::CommandsReceived(Command command) const {
  std::lock_guard lock(lock_);
  return s_->commandCounts[static_cast<int>(command)];
}

std::vector<std::string> PrinterEngine::PrintedLines() const {
  std::lock_guard lock(lock_);
  return s_->printedLines;
}

Bytes PrinterEngine::PrintData() const {
  std::lock_guard lock(lock_);
  return s_->printData;
}

std::vector<LogEntry> PrinterEngine::Log() const {
  std::lock_guard lock(lock_);
  FlushTakenIn();
  const State& s = *s_;
  std::vector<LogEntry> result;
  result.reserve(s.log.size());
  for (std::size_t i = 0; i < s.log.size(); ++i) result.push_back(s.log[(s.logStart + i) % s.log.size()]);
  return result;
}

Bytes PrinterEngine::HostBytes() const {
  Bytes result;
  for (const LogEntry& e : Log()) {
    if (e.Dir == Direction::HostToPrinter) result += e.Data;
  }
  return result;
}

Bytes PrinterEngine::PrinterBytes() const {
  Bytes result;
  for (const LogEntry& e : Log()) {
    if (e.Dir == Direction::PrinterToHost) result += e.Data;
  }
  return result;
}

void PrinterEngine::ClearLog() {
  std::lock_guard lock(lock_);
  // The room goes too: a long run that clears it keeps no more than its longest stretch.
  Bytes().swap(s_->takenIn);
  decltype(s_->log)().swap(s_->log);
  s_->logStart = 0;
}

void PrinterEngine::ClearPrinted() {
  std::lock_guard lock(lock_);
  decltype(s_->printedLines)().swap(s_->printedLines);
  Bytes().swap(s_->printData);
}

void PrinterEngine::SetLogSink(std::function<void(const LogEntry&)> sink) {
  std::lock_guard lock(lock_);
  s_->logSink = std::move(sink);
}

void PrinterEngine::SetPrintSink(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(lock_);
  s_->printSink = std::move(sink);
}

// ---- links ----

int PrinterEngine::OpenLink() {
  std::lock_guard lock(lock_);
  const int id = s_->nextLinkId++;
  s_->links[id] = std::make_unique<Link>();
  return id;
}

void PrinterEngine::CloseLink(int id) {
  std::lock_guard lock(lock_);
  FlushTakenIn();
  s_->links.erase(id);
}

bool PrinterEngine::LinkWrite(int id, std::string_view bytes) {
  std::lock_guard lock(lock_);
  Refresh();
  auto found = s_->links.find(id);
  if (found == s_->links.end() || bytes.empty()) return false;
  Link& link = *found->second;
  if (!ReachableLocked() || link.hungUp) {
    Note((link.hungUp ? "lost (hung up): " : "lost (unreachable): ") + HexText(bytes), id);
    return false;
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (s_->takenInLink != id) FlushTakenIn();
    s_->takenInLink = id;
    s_->takenIn.push_back(bytes[i]);
    FeedByte(id, link, bytes[i]);
    if (!ReachableLocked() && i + 1 < bytes.size()) {
      Note("lost (unreachable): " + HexText(bytes.substr(i + 1)), id);
      break;
    }
  }
  FlushTakenIn();
  return true;
}

Bytes PrinterEngine::LinkRead(int id, std::size_t max) {
  std::lock_guard lock(lock_);
  Refresh();
  Bytes result;
  auto found = s_->links.find(id);
  if (found == s_->links.end() || !ReachableLocked()) return result;
  Link& link = *found->second;
  const std::int64_t now = Now();
  bool cut = false;
  while (!link.out.empty() && result.size() < max && link.out.front().due <= now) {
    if (link.out.front().hangUp) {
      cut = true;
      break;
    }
    result.push_back(link.out.front().byte);
    link.out.pop_front();
  }
  if (!result.empty()) AddLog(Direction::PrinterToHost, id, result);
  if (cut) {
    link.hungUp = true;
    link.Reset();
    Note("hung up (fault)", id);
  }
  return result;
}

bool PrinterEngine::LinkHungUp(int id) const {
  std::lock_guard lock(lock_);
  auto found = s_->links.find(id);
  return found != s_->links.end() && found->second->hungUp;
}

std::int64_t PrinterEngine::LinkMillisecondsUntilOutput(int id) const {
  std::lock_guard lock(lock_);
  Refresh();
  auto found = s_->links.find(id);
  if (found == s_->links.end() || found->second->out.empty()) return -1;
  if (!ReachableLocked()) return -1;
  return std::max<std::int64_t>(0, found->second->out.front().due - Now());
}

// ---- the command parser ----

void PrinterEngine::FeedByte(int id, Link& link, char byte) {
  if (link.skip > 0) {
    --link.skip;
    return;
  }
  link.pending.push_back(byte);
  ParsePending(id, link);
}

void PrinterEngine::ParsePending(int id, Link& link) {
  while (!link.pending.empty()) {
    const Match m = MatchPending(link.pending);
    switch (m.kind) {
      case Match::NeedMore:
        return;
      case Match::Print:
        PrintByte(link, link.pending[0]);
        link.pending.erase(0, 1);
        break;
      case Match::Swallow: {
        link.pending.erase(0, m.length);
        link.skip = m.skipMore;
        const std::size_t now = std::min(link.skip, link.pending.size());
        link.pending.erase(0, now);
        link.skip -= now;
        break;
      }
      case Match::Found:
        link.pending.erase(0, m.length);
        Dispatch(id, link, m.command, m.value);
        if (!ReachableLocked()) {
          link.pending.clear();
          return;
        }
        break;
    }
  }
}

void PrinterEngine::PrintByte(Link& link, char byte) {
  State& s = *s_;
  s.printData.push_back(byte);
  if (byte == '\n') {
    if (s.printSink) s.printSink(link.line);
    s.printedLines.push_back(std::move(link.line));
    link.line.clear();
  } else if (byte != '\r' && byte != '\0') {
    link.line.push_back(byte);
  }
}

void PrinterEngine::Dispatch(int id, Link& link, Command command, std::uint8_t value) {
  State& s = *s_;
  ++s.commandCounts[static_cast<int>(command)];
  switch (command) {
    case Command::Identify:
      Reply(id, link, command, wire::IdentifyReply(s.config.ModelName));
      break;
    case Command::Firmware:
      Reply(id, link, command, wire::FirmwareReply(s.config.Firmware));
      break;
    case Command::ModelSettingQuery:
      Reply(id, link, command, wire::ModelSettingReply(SettingDigit(s.config.ModelSetting)));
      break;
    case Command::EnterSettingMode:
      s.settingMode = true;
      Reply(id, link, command, wire::EnterSettingModeReply());
      break;
    case Command::WriteModelSetting: {
      char text[64];
      if (!s.settingMode) {
        std::snprintf(text, sizeof text, "model setting %02X ignored: not in setting mode", value);
        Note(text, id);
        break;
      }
      s.written = value;
      std::snprintf(text, sizeof text, "model setting %02X written, active after the restart", value);
      Note(text, id);
      break;
    }
    case Command::LeaveSettingMode:
      if (!s.settingMode) {
        Note("leave setting mode ignored: not in setting mode", id);
        break;
      }
      StartRestart();
      break;
  }
}

void PrinterEngine::Reply(int id, Link& link, Command command, Bytes reply) {
  State& s = *s_;
  ReplyFault fault;
  bool faulty = false;
  auto own = s.faults.find(command);
  ReplyFault* source = own != s.faults.end() ? &own->second : (s.faultForAll ? &*s.faultForAll : nullptr);
  if (source && ReplyCommand(command)) {
    fault = *source;
    faulty = true;
    if (source->Count > 0 && --source->Count == 0) {
      if (own != s.faults.end()) {
        s.faults.erase(own);
      } else {
        s.faultForAll.reset();
      }
    }
  }
  if (faulty) {
    if (fault.Silent) {
      Note(std::string(CommandName(command)) + ": no reply (fault)", id);
      return;
    }
    if (fault.Replace) reply = *fault.Replace;
    if (fault.PadTo > 0 && reply.size() < static_cast<std::size_t>(fault.PadTo)) {
      const std::size_t filler = static_cast<std::size_t>(fault.PadTo) - reply.size();
      const bool block = !reply.empty() && reply.back() == '\0';
      reply.insert(block ? reply.size() - 1 : reply.size(), filler, 'X');
    }
    if (fault.DropNul && !reply.empty() && reply.back() == '\0') reply.pop_back();
    if (!fault.Insert.empty()) {
      const std::size_t at = std::min<std::size_t>(static_cast<std::size_t>(std::max(0, fault.InsertAt)), reply.size());
      reply.insert(at, fault.Insert);
    }
  }
  std::size_t keep = reply.size();
  const bool cut = faulty && fault.DisconnectAfter >= 0;
  if (cut) keep = std::min(keep, static_cast<std::size_t>(fault.DisconnectAfter));
  std::int64_t due = Now() + (faulty ? fault.DelayMs : 0);
  if (!link.out.empty()) due = std::max(due, link.out.back().due);
  for (std::size_t i = 0; i < keep; ++i) {
    if (i > 0 && faulty) due += fault.ByteDelayMs;
    link.out.push_back({reply[i], due, false});
  }
  if (cut) link.out.push_back({0, due, true});
}

// ---- HostLink ----

HostLink::HostLink(PrinterEngine& engine) : engine_(engine), id_(engine.OpenLink()) {}
HostLink::~HostLink() { engine_.CloseLink(id_); }
bool HostLink::Write(std::string_view bytes) { return engine_.LinkWrite(id_, bytes); }
Bytes HostLink::Read(std::size_t max) { return engine_.LinkRead(id_, max); }
bool HostLink::Reachable() const { return engine_.Reachable() && !engine_.LinkHungUp(id_); }
bool HostLink::HungUp() const { return engine_.LinkHungUp(id_); }
std::int64_t HostLink::MillisecondsUntilOutput() const { return engine_.LinkMillisecondsUntilOutput(id_); }

}  // namespace qx::sim
