#include "sim/engine/zemak_responder.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>

namespace qx::sim {

namespace {

const char* const RequestNames[ZemakRequestKinds] = {"ready", "bypass", "device", "identity",
                                                     "basic", "extended", "search"};

struct RequestForm {
  ZemakRequest request;
  char type;
  std::uint8_t target;
  std::uint16_t function;
};

// How each request looks on the wire (target number always 0).
const RequestForm Forms[ZemakRequestKinds] = {
    {ZemakRequest::QueryReady, 'Q', 3, 0x0020},          {ZemakRequest::SetBypass, 'C', 3, 0x0015},
    {ZemakRequest::SendDeviceRequest, 'C', 3, 0x0012},   {ZemakRequest::QueryIdentity, 'Q', 0, 0x0000},
    {ZemakRequest::QueryBasicStatus, 'Q', 3, 0x0000},    {ZemakRequest::QueryExtendedStatus, 'Q', 3, 0x0001},
    {ZemakRequest::Search, 'P', 0, 0x0000},
};

constexpr std::size_t HeaderLength = 14;

unsigned At(std::string_view bytes, std::size_t i) { return static_cast<unsigned char>(bytes[i]); }

void Put16(Bytes& bytes, std::uint16_t value) {
  bytes.push_back(static_cast<char>(value >> 8));
  bytes.push_back(static_cast<char>(value & 0xFF));
}

void Place(Bytes& block, std::size_t at, std::uint8_t value) {
  if (at < block.size()) block[at] = static_cast<char>(value);
}

}  // namespace

const char* ZemakRequestName(ZemakRequest request) { return RequestNames[static_cast<int>(request)]; }

std::optional<ZemakRequest> ZemakRequestFromName(std::string_view name) {
  for (int i = 0; i < ZemakRequestKinds; ++i) {
    if (name == RequestNames[i]) return static_cast<ZemakRequest>(i);
  }
  return std::nullopt;
}

std::string FormatPeer(const Peer& peer) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", peer.Address[0], peer.Address[1], peer.Address[2],
                peer.Address[3], peer.Port);
  return text;
}

std::string FormatZemakLogEntry(const ZemakLogEntry& entry) {
  const long long ms = entry.TimeMs < 0 ? -entry.TimeMs : entry.TimeMs;
  const char* what = entry.Dir == Direction::HostToPrinter ? "host> " : entry.Dir == Direction::PrinterToHost ? "qx<   " : "note  ";
  char head[96];
  std::snprintf(head, sizeof head, "%s%lld.%03lld udp %s %s", entry.TimeMs < 0 ? "-" : "", ms / 1000, ms % 1000,
                FormatPeer(entry.With).c_str(), what);
  return head + (entry.Dir == Direction::Note ? entry.Data : HexText(entry.Data));
}

ZemakConfig ZemakConfig::Plain() { return ZemakConfig{}; }

ZemakConfig ZemakConfig::Extended() {
  ZemakConfig config;
  config.Interface = ZemakInterface::Extended;
  config.Identity = "NX-G72";
  return config;
}

struct ZemakResponder::State {
  ZemakConfig config;
  std::map<ZemakRequest, DatagramFault> faults;
  std::optional<DatagramFault> faultForAll;
  struct Queued {
    std::int64_t due;
    Datagram datagram;
  };
  std::deque<Queued> queue;  // in due order
  int counts[ZemakRequestKinds] = {};
  int bypass = -1;
  std::vector<ZemakLogEntry> log;
  std::function<void(const ZemakLogEntry&)> logSink;
};

ZemakResponder::ZemakResponder(Clock& clock, ZemakConfig config, const PrinterEngine* printer)
    : clock_(clock), printer_(printer), s_(std::make_unique<State>()) {
  s_->config = std::move(config);
}

ZemakResponder::~ZemakResponder() = default;

ZemakConfig ZemakResponder::Config() const {
  std::lock_guard lock(lock_);
  return s_->config;
}

void ZemakResponder::SetConfig(const ZemakConfig& config) {
  std::lock_guard lock(lock_);
  s_->config = config;
}

void ZemakResponder::SetFault(ZemakRequest request, const DatagramFault& fault) {
  std::lock_guard lock(lock_);
  s_->faults[request] = fault;
}

void ZemakResponder::SetFaultForAll(const DatagramFault& fault) {
  std::lock_guard lock(lock_);
  s_->faultForAll = fault;
}

void ZemakResponder::ClearFaults() {
  std::lock_guard lock(lock_);
  s_->faults.clear();
  s_->faultForAll.reset();
}

bool ZemakResponder::ReachableLocked() const { return printer_ == nullptr || printer_->Reachable(); }

bool ZemakResponder::Reachable() const {
  std::lock_guard lock(lock_);
  return ReachableLocked();
}

void ZemakResponder::AddLog(Direction dir, const Peer& with, Bytes data) const {
  ZemakLogEntry entry{clock_.NowMilliseconds(), dir, with, std::move(data)};
  if (s_->logSink) s_->logSink(entry);
  if (s_->log.size() >= PrinterEngine::MaxLogEntries) s_->log.erase(s_->log.begin());
  s_->log.push_back(std::move(entry));
}

void ZemakResponder::Receive(const Peer& from, std::string_view datagram) {
  std::lock_guard lock(lock_);
  AddLog(Direction::HostToPrinter, from, Bytes(datagram));
  if (!ReachableLocked()) {
    AddLog(Direction::Note, from, "no reply: the printer is unreachable");
    return;
  }
  // A datagram may carry several packets; each complete request is answered.
  std::size_t pos = 0;
  bool answered = false;
  while (datagram.size() - pos >= HeaderLength) {
    const std::string_view p = datagram.substr(pos);
    if (p.substr(0, 5) != "ZEMAK") break;
    const std::size_t length = At(p, 12) * 256u + At(p, 13);
    if (p.size() < HeaderLength + length) break;
    const char type = p[5];
    const std::uint8_t target = static_cast<std::uint8_t>(At(p, 6));
    const std::uint8_t number = static_cast<std::uint8_t>(At(p, 7));
    const std::uint16_t function = static_cast<std::uint16_t>(At(p, 8) * 256u + At(p, 9));
    const RequestForm* form = nullptr;
    for (const RequestForm& f : Forms) {
      if (f.type == type && f.target == target && number == 0 && f.function == function) form = &f;
    }
    const bool needsValue = form && (form->request == ZemakRequest::SetBypass ||
                                     form->request == ZemakRequest::SendDeviceRequest);
    if (form && (!needsValue || length >= 1)) {
      const std::uint8_t value = length >= 1 ? static_cast<std::uint8_t>(At(p, HeaderLength)) : 0;
      Answer(from, form->request, type, target, number, function, value);
      answered = true;
    }
    pos += HeaderLength + length;
  }
  if (!answered) AddLog(Direction::Note, from, "no reply: not a request of this interface");
}

void ZemakResponder::Answer(const Peer& from, ZemakRequest request, char type, std::uint8_t target,
                            std::uint8_t number, std::uint16_t function, std::uint8_t value) {
  State& s = *s_;
  ++s.counts[static_cast<int>(request)];
  if (request == ZemakRequest::SetBypass) s.bypass = value;

  DatagramFault fault;
  auto own = s.faults.find(request);
  DatagramFault* source = own != s.faults.end() ? &own->second : (s.faultForAll ? &*s.faultForAll : nullptr);
  if (source) {
    fault = *source;
    if (source->Count > 0 && --source->Count == 0) {
      if (own != s.faults.end()) {
        s.faults.erase(own);
      } else {
        s.faultForAll.reset();
      }
    }
  }
  if (fault.Silent) {
    AddLog(Direction::Note, from, std::string("no reply to ") + ZemakRequestName(request) + " (fault)");
    return;
  }

  Bytes datagram;
  if (fault.Replace) {
    datagram = *fault.Replace;
  } else {
    const bool extended = s.config.Interface == ZemakInterface::Extended &&
                          (request == ZemakRequest::QueryIdentity || request == ZemakRequest::Search);
    const std::uint16_t result = fault.ResultCode ? *fault.ResultCode : (extended ? 0xE000 : 0x0000);
    Bytes data = fault.Data ? *fault.Data : ReplyDataLocked(request, value);
    if (fault.PadDataTo > 0 && data.size() < static_cast<std::size_t>(fault.PadDataTo)) {
      data.resize(static_cast<std::size_t>(fault.PadDataTo), '\0');
    }
    datagram = Packet(static_cast<char>(type + ('a' - 'A')), target, number, function, result, data);
    if (fault.AnnouncedLength >= 0) {
      datagram[12] = static_cast<char>((fault.AnnouncedLength >> 8) & 0xFF);
      datagram[13] = static_cast<char>(fault.AnnouncedLength & 0xFF);
    }
  }
  datagram = fault.Before + datagram + fault.After;

  std::int64_t due = clock_.NowMilliseconds() + fault.DelayMs;
  if (!s.queue.empty()) due = std::max(due, s.queue.back().due);
  std::size_t from_ = 0;
  for (int cut : fault.SplitAt) {
    const std::size_t at = std::min<std::size_t>(static_cast<std::size_t>(std::max(0, cut)), datagram.size());
    if (at <= from_) continue;
    s.queue.push_back({due, {from, datagram.substr(from_, at - from_)}});
    from_ = at;
  }
  if (from_ < datagram.size() || from_ == 0) s.queue.push_back({due, {from, datagram.substr(from_)}});
}

std::vector<Datagram> ZemakResponder::TakeDue() {
  std::lock_guard lock(lock_);
  std::vector<Datagram> due;
  const std::int64_t now = clock_.NowMilliseconds();
  const bool reachable = ReachableLocked();
  while (!s_->queue.empty() && s_->queue.front().due <= now) {
    Datagram d = std::move(s_->queue.front().datagram);
    s_->queue.pop_front();
    if (!reachable) {
      AddLog(Direction::Note, d.To, "reply lost: the printer is unreachable");
      continue;
    }
    AddLog(Direction::PrinterToHost, d.To, d.Data);
    due.push_back(std::move(d));
  }
  return due;
}

std::int64_t ZemakResponder::MillisecondsUntilNext() const {
  std::lock_guard lock(lock_);
  if (s_->queue.empty()) return -1;
  return std::max<std::int64_t>(0, s_->queue.front().due - clock_.NowMilliseconds());
}

int ZemakResponder::RequestsReceived(ZemakRequest request) const {
  std::lock_guard lock(lock_);
  return s_->counts[static_cast<int>(request)];
}

int ZemakResponder::Bypass() const {
  std::lock_guard lock(lock_);
  return s_->bypass;
}

std::vector<ZemakLogEntry> ZemakResponder::Log() const {
  std::lock_guard lock(lock_);
  return s_->log;
}

void ZemakResponder::ClearLog() {
  std::lock_guard lock(lock_);
  // The room goes too: a long run that clears it keeps no more than its longest stretch.
  decltype(s_->log)().swap(s_->log);
}

void ZemakResponder::SetLogSink(std::function<void(const ZemakLogEntry&)> sink) {
  std::lock_guard lock(lock_);
  s_->logSink = std::move(sink);
}

Bytes ZemakResponder::ReplyData(ZemakRequest request) const {
  std::lock_guard lock(lock_);
  return ReplyDataLocked(request, 0);
}

Bytes ZemakResponder::ReplyDataLocked(ZemakRequest request, std::uint8_t value) const {
  const ZemakConfig& c = s_->config;
  switch (request) {
    case ZemakRequest::QueryReady:
      return Bytes(1, static_cast<char>(c.ReadyByte));
    case ZemakRequest::SetBypass:
      return Bytes(1, static_cast<char>(value));
    case ZemakRequest::SendDeviceRequest:
      return Bytes(1, '\0');
    case ZemakRequest::QueryIdentity:
    case ZemakRequest::Search: {
      Bytes block(static_cast<std::size_t>(std::max(0, c.IdentityLength)), '\0');
      const std::size_t text = std::min<std::size_t>(c.Identity.size(), 35);
      for (std::size_t i = 0; i < text && i < block.size(); ++i) block[i] = c.Identity[i];
      Place(block, 36, c.HardMajor);
      Place(block, 37, c.HardMinor);
      Place(block, 38, c.SoftMajor);
      Place(block, 39, c.SoftMinor);
      for (std::size_t i = 0; i < 6; ++i) Place(block, 40 + i, c.Mac[i]);
      Place(block, 61, c.Byte61);
      return block;
    }
    case ZemakRequest::QueryBasicStatus: {
      Bytes block(static_cast<std::size_t>(std::max(0, c.BasicStatusLength)), '\0');
      Place(block, 1, c.BasicStatus);
      return block;
    }
    case ZemakRequest::QueryExtendedStatus: {
      Bytes block(static_cast<std::size_t>(std::max(0, c.ExtendedStatusLength)), '\0');
      for (std::size_t i = 0; i < 4 && i < c.ModelPrefix.size(); ++i) {
        Place(block, 6 + i, static_cast<std::uint8_t>(c.ModelPrefix[i]));
      }
      Place(block, 38, c.ExtendedStatus);
      return block;
    }
  }
  return {};
}

Bytes ZemakResponder::Packet(char type, std::uint8_t target, std::uint8_t number, std::uint16_t function,
                             std::uint16_t result, std::string_view data) {
  Bytes packet = "ZEMAK";
  packet.push_back(type);
  packet.push_back(static_cast<char>(target));
  packet.push_back(static_cast<char>(number));
  Put16(packet, function);
  Put16(packet, result);
  Put16(packet, static_cast<std::uint16_t>(data.size()));
  packet += data;
  return packet;
}

Bytes ZemakResponder::RequestBytes(ZemakRequest request, std::uint8_t value) {
  const RequestForm& f = Forms[static_cast<int>(request)];
  const bool withValue = request == ZemakRequest::SetBypass || request == ZemakRequest::SendDeviceRequest;
  return Packet(f.type, f.target, 0, f.function, 0, withValue ? Bytes(1, static_cast<char>(value)) : Bytes());
}

}  // namespace qx::sim
