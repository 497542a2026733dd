#include "port/net/net_status_channel.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/time.h"
#include "port/qxccc.h"

namespace qx {

namespace {

std::string VersionText(std::uint8_t major, std::uint8_t minor) {
  char text[16];
  std::snprintf(text, sizeof text, "%X.%02X", major, minor);
  return text;
}

std::string MacText(const std::uint8_t* b) {
  char text[24];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", b[0], b[1], b[2], b[3], b[4], b[5]);
  return text;
}

// The identity text at the start of the data, never past the buffer.
std::string IdentityText(const std::uint8_t* data) {
  const void* end = std::memchr(data, 0, ZemakDataCapacity);
  const std::size_t size = end ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - data)
                               : static_cast<std::size_t>(ZemakDataCapacity);
  return std::string(reinterpret_cast<const char*>(data), size);
}

void FillIdentity(NetDeviceInfo& info, const std::uint8_t* data) {
  info.Name = IdentityText(data);
  info.HardVersion = VersionText(data[36], data[37]);
  info.SoftVersion = VersionText(data[38], data[39]);
  info.HardVersionNumber = data[36] * 256 + data[37];
  info.SoftVersionNumber = data[38] * 256 + data[39];
  info.MacAddress = MacText(data + 40);
}

}  // namespace

// ---- parser ----

bool ZemakParser::Feed(std::uint8_t byte) {
  switch (state_) {
    case 0:
      packet_ = Packet{};
      if (byte == 'Z') state_ = 1;
      return false;
    case 1: state_ = byte == 'E' ? 2 : 0; return false;
    case 2: state_ = byte == 'M' ? 3 : 0; return false;
    case 3: state_ = byte == 'A' ? 4 : 0; return false;
    case 4: state_ = byte == 'K' ? 10 : 0; return false;
    case 10: {
      const int code = ZemakPacketTypeCode(byte);
      if (code < 0) {
        state_ = 0;
      } else {
        packet_.Type = code;
        state_ = 20;
      }
      return false;
    }
    case 20:
      if (byte <= 3) {
        packet_.TargetType = byte;
        state_ = 30;
      } else {
        state_ = 0;
      }
      return false;
    case 30: packet_.TargetNumber = byte; state_ = 40; return false;
    case 40: packet_.Function = byte << 8; state_ = 41; return false;
    case 41: packet_.Function |= byte; state_ = 50; return false;
    case 50: packet_.ResultCode = byte << 8; state_ = 51; return false;
    case 51: packet_.ResultCode |= byte; state_ = 60; return false;
    case 60: packet_.DataLength = byte << 8; state_ = 61; return false;
    case 61:
      packet_.DataLength |= byte;
      if (packet_.DataLength == 0) {
        state_ = 0;
        return true;
      }
      remaining_ = packet_.DataLength;
      state_ = 70;
      return false;
    case 70: {
      // A packet announcing more than the buffer holds is counted through, not stored.
      const int position = packet_.DataLength - remaining_;
      if (position < ZemakDataCapacity) packet_.Data[position] = byte;
      if (--remaining_ == 0) {
        state_ = 0;
        return true;
      }
      return false;
    }
    default:
      state_ = 0;
      return false;
  }
}

int ZemakParser::DispatchNumber(const Packet& p) {
  if (p.TargetNumber != 0) return RequestNone;
  if (p.Type == PacketControl && p.TargetType == 3 && p.Function == 0x0015) return RequestBypass;
  if (p.Type == PacketQuery && p.TargetType == 3 && p.Function == 0x0020) return RequestReady;
  if (p.Type == PacketQuery && p.TargetType == 3 && p.Function == 0x0000) return RequestBasicStatus;
  if (p.Type == PacketQuery && p.TargetType == 3 && p.Function == 0x0001) return RequestExtendedStatus;
  if (p.Type == PacketControl && p.TargetType == 3 && p.Function == 0x0012) return RequestDeviceRequest;
  if (p.Type == PacketQuery && p.TargetType == 0 && p.Function == 0x0000) return RequestIdentity;
  return RequestNone;
}

// ---- receive worker ----

class TNetStatusChannel::TUdpRecvThread final : public TCommThread {
 public:
  TUdpRecvThread(TQXCCC& owner, TNetStatusChannel& channel) : TCommThread(owner), channel_(channel) {}

 protected:
  void Execute() override {
    // Room for the largest datagram: one cut at 512 bytes would leave the parser
    // waiting inside a packet whose tail is gone.
    std::vector<std::uint8_t> buffer(MaxDatagram);
    while (!Stopping()) {
      // A bounded wait, so that a stop is seen without closing the socket under the worker.
      int n = -1;
      Ipv4Endpoint from;
      if (WaitReadable(channel_.socket_.Handle(), PollMs) > 0) {
        n = ReceiveFrom(channel_.socket_.Handle(), buffer.data(), MaxDatagram, &from);
      }
      if (n <= 0) {
        if (n < 0 || !Stopping()) SleepMilliseconds(1);
        continue;
      }
      ZemakParser& parser = ParserFor(from, n >= 5 && std::memcmp(buffer.data(), "ZEMAK", 5) == 0);
      for (int i = 0; i < n; ++i) {
        if (parser.Feed(buffer[i])) channel_.Dispatch(parser.Current());
      }
      if (channel_.listingActive_.load() != 0) channel_.ListIfQualifies(parser.Current(), from);
    }
  }

 private:
  // A parser per sender: a packet another sender cut short (or garbage that ends
  // looking like one) must not swallow the printer's answer that follows. A packet the
  // printer itself splits over datagrams still carries over, but one that announces
  // more data than it carries must not swallow that sender's later packets either: the
  // parser starts afresh when a datagram begins with the magic while a packet is in
  // progress, or when the sender was silent for PacketGapMs. Senders past the limit
  // take the place of the one heard from longest ago.
  ZemakParser& ParserFor(const Ipv4Endpoint& from, bool beginsWithMagic) {
    const std::int64_t now = channel_.clock_.NowMilliseconds();
    for (Sender& s : senders_) {
      if (s.From.Address == from.Address && s.From.Port == from.Port) {
        if (s.Parser.State() != 0 && (beginsWithMagic || now - s.HeardAtMs >= PacketGapMs)) s.Parser.Restart();
        s.LastHeard = ++heard_;
        s.HeardAtMs = now;
        return s.Parser;
      }
    }
    if (senders_.size() < MaxSenders) {
      senders_.push_back(Sender{from, ZemakParser{}, ++heard_, now});
      return senders_.back().Parser;
    }
    Sender* oldest = &senders_.front();
    for (Sender& s : senders_) {
      if (s.LastHeard < oldest->LastHeard) oldest = &s;
    }
    *oldest = Sender{from, ZemakParser{}, ++heard_, now};
    return oldest->Parser;
  }

  struct Sender {
    Ipv4Endpoint From;
    ZemakParser Parser;
    std::uint64_t LastHeard = 0;
    std::int64_t HeardAtMs = 0;
  };
  static constexpr int PollMs = 100;
  static constexpr int MaxDatagram = 65536;
  static constexpr std::size_t MaxSenders = 256;
  TNetStatusChannel& channel_;
  std::vector<Sender> senders_;
  std::uint64_t heard_ = 0;
};

// ---- channel ----

TNetStatusChannel::TNetStatusChannel(TQXCCC& owner, Clock& clock) : clock_(clock), socket_(qx::Socket::Udp()) {
  ListingOutput = [](const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
  };
  worker_ = std::make_unique<TUdpRecvThread>(owner, *this);
  worker_->Start();
  worker_->Resume();
}

TNetStatusChannel::~TNetStatusChannel() {
  // The worker is joined before the socket goes, so that it never waits on a closed
  // (and perhaps reused) socket number.
  worker_->RequestStop();
  worker_->Resume();
  worker_->WaitFor();
  worker_.reset();
  if (socket_.Valid()) Shutdown(socket_.Handle());
  socket_.Close();
}

void TNetStatusChannel::SetAddress(const char* text) {
  std::lock_guard lock(lock_);
  std::memset(address_, 0, sizeof address_);
  if (text) std::strncpy(address_, text, sizeof address_ - 1);
}

std::string TNetStatusChannel::Address() const {
  std::lock_guard lock(lock_);
  return address_;
}

int TNetStatusChannel::UnicastSend(const std::uint8_t* bytes, int length) {
  Ipv4Address to;
  // An address the text does not make is not sent to (inet_addr would give the
  // broadcast address).
  if (!ParseDottedAddress(Address().c_str(), to)) return 0;
  const int n = SendTo(socket_.Handle(), bytes, length, {to, ZemakPort});
  return n < 0 ? 0 : n;
}

int TNetStatusChannel::BroadcastSend(const std::uint8_t* bytes, int length) {
  SetBroadcast(socket_.Handle(), true);
  const int n = SendTo(socket_.Handle(), bytes, length, {BroadcastAddress, ZemakPort});
  if (n < 0) return 0;
  SetBroadcast(socket_.Handle(), false);
  return n;
}

bool TNetStatusChannel::Request(int number, const std::uint8_t* bytes, int length, Reply& reply,
                                std::uint8_t* data,
                                const std::function<bool(const Reply&, const std::uint8_t*)>& fits) {
  {
    std::lock_guard lock(lock_);
    slots_[number].clear();
    events_[number] = false;
  }
  // The wait counts from the send.
  const std::int64_t deadline = clock_.NowMilliseconds() + ReplyWaitMs;
  UnicastSend(bytes, length);
  std::unique_lock lock(lock_);
  for (;;) {
    // The wait is measured on the clock; the worker's signal ends it at once.
    while (!events_[number]) {
      const std::int64_t left = deadline - clock_.NowMilliseconds();
      if (left <= 0) return false;
      signal_.wait_for(lock, std::chrono::milliseconds(std::min<std::int64_t>(left, WaitSliceMs)));
    }
    // Copied under the lock, from the answers to this request number alone.
    std::deque<Slot>& queue = slots_[number];
    const Slot slot = queue.front();
    queue.pop_front();
    events_[number] = !queue.empty();
    reply.ResultCode = slot.ResultCode;
    reply.DataLength = slot.DataLength;
    if (data && slot.DataLength <= ZemakDataCapacity) std::memcpy(data, slot.Data, slot.DataLength);
    if (!fits || fits(reply, slot.Data)) return true;
  }
}

void TNetStatusChannel::Dispatch(const ZemakParser::Packet& packet) {
  const int number = ZemakParser::DispatchNumber(packet);
  if (number == RequestNone) return;
  {
    std::lock_guard lock(lock_);
    // Nobody takes answers past a few: the oldest goes (a request clears them anyway).
    std::deque<Slot>& queue = slots_[number];
    if (queue.size() == SlotsPerRequest) queue.pop_front();
    Slot& slot = queue.emplace_back();
    slot.ResultCode = packet.ResultCode;
    slot.DataLength = packet.DataLength;
    if (packet.DataLength <= ZemakDataCapacity) std::memcpy(slot.Data, packet.Data, packet.DataLength);
    events_[number] = true;
  }
  signal_.notify_all();
}

void TNetStatusChannel::ListIfQualifies(const ZemakParser::Packet& p, const Ipv4Endpoint& from) {
  if (p.Type != PacketSearch || p.TargetType != 0 || p.TargetNumber != 0 || p.Function != 0) return;
  if (!IdentityQualifies(p.ResultCode, p.Data, ZemakDataCapacity)) return;
  char line[128];
  std::snprintf(line, sizeof line, "  Ethernet Port     %s   %s   Hard:%s Soft:%s\n",
                FormatDottedAddress(from.Address).c_str(), MacText(p.Data + 40).c_str(),
                VersionText(p.Data[36], p.Data[37]).c_str(), VersionText(p.Data[38], p.Data[39]).c_str());
  ListingOutput(line);
}

int TNetStatusChannel::QueryReady() {
  Reply reply;
  std::uint8_t data[ZemakDataCapacity] = {};
  if (!Request(RequestReady, QueryReadyPacket.data(), ZemakHeaderSize, reply, data)) return -1;
  return reply.ResultCode == 0 && reply.DataLength == 1 && data[0] == 0 ? 1 : 0;
}

int TNetStatusChannel::SetBypass(int value) {
  ZemakControlBytes packet = SetBypassPacket;
  packet[14] = static_cast<std::uint8_t>(value);
  Reply reply;
  std::uint8_t data[ZemakDataCapacity] = {};
  // The answer echoes the value: one with another value answers an earlier request.
  const auto echoes = [&](const Reply& r, const std::uint8_t* d) {
    return r.DataLength != 1 || d[0] == static_cast<std::uint8_t>(value);
  };
  if (!Request(RequestBypass, packet.data(), static_cast<int>(packet.size()), reply, data, echoes)) return 0;
  return reply.ResultCode == 0 && reply.DataLength == 1 && data[0] == static_cast<std::uint8_t>(value) ? 1 : 0;
}

int TNetStatusChannel::SendDeviceRequest() {
  Reply reply;
  std::uint8_t data[ZemakDataCapacity] = {};
  if (!Request(RequestDeviceRequest, SendDeviceRequestPacket.data(), static_cast<int>(SendDeviceRequestPacket.size()),
               reply, data)) {
    return 0;
  }
  return reply.ResultCode == 0 && reply.DataLength == 1 && data[0] == 0 ? 1 : 0;
}

int TNetStatusChannel::QueryIdentity(std::uint8_t* data, int* length) {
  Reply reply;
  if (!Request(RequestIdentity, QueryIdentityPacket.data(), ZemakHeaderSize, reply, data)) return -1;
  if (length) *length = reply.DataLength;
  if (reply.ResultCode == 0) return 0;
  if (reply.ResultCode == ResultExtended) return 1;
  return -1;
}

int TNetStatusChannel::QueryStatus(int number, const ZemakRequestBytes& packet, std::uint8_t* data, int* length) {
  Reply reply;
  if (!Request(number, packet.data(), ZemakHeaderSize, reply, data)) return 0;
  if (reply.ResultCode != 0) return 0;
  if (length) *length = reply.DataLength;
  return 1;
}

int TNetStatusChannel::QueryBasicStatus(std::uint8_t* data, int* length) {
  return QueryStatus(RequestBasicStatus, QueryBasicStatusPacket, data, length);
}

int TNetStatusChannel::QueryExtendedStatus(std::uint8_t* data, int* length) {
  return QueryStatus(RequestExtendedStatus, QueryExtendedStatusPacket, data, length);
}

int TNetStatusChannel::Identify(NetDeviceInfo& info) {
  info.Name.clear();
  info.MacAddress.clear();
  info.HardVersion.clear();
  info.SoftVersion.clear();
  info.HardVersionNumber = 0;
  info.SoftVersionNumber = 0;
  info.StatusFlag = 0;
  info.LegacyReply = 1;

  std::uint8_t data[ZemakDataCapacity] = {};
  int length = 0;
  const int identity = QueryIdentity(data, &length);
  if (identity < 0) return 0;
  if (identity == 0) {
    if (std::memcmp(data, "NX-L", 4) == 0) {
      info.LegacyReply = 1;
      FillIdentity(info, data);
      info.ModelCode = data[36] == 1 ? "L71" : data[36] == 2 ? "L72" : "L7X";
    }
  } else if (data[61] == 4) {
    info.LegacyReply = 0;
    FillIdentity(info, data);
  }

  std::memset(data, 0, sizeof data);
  if (info.LegacyReply == 1) {
    if (QueryBasicStatus(data, &length) != 1) return 0;
    info.StatusFlag = data[1] == 4 || data[1] == 5 ? 1 : 0;
    return 1;
  }
  if (QueryExtendedStatus(data, &length) != 1) return 0;
  info.StatusFlag = data[38] == 4 || data[38] == 5 ? 1 : 0;
  if (std::memcmp(data + 6, "NX-G", 4) == 0) {
    info.ModelCode = "G72";
  } else if (std::memcmp(data + 6, "KOLV", 4) == 0) {
    info.ModelCode = "V45";
  } else {
    info.ModelCode = "G7X";
  }
  return 1;
}

int TNetStatusChannel::ListPrinters() {
  listingActive_ = 1;
  BroadcastSend(SearchPacket.data(), ZemakHeaderSize);
  clock_.SleepMilliseconds(ReplyWaitMs);
  listingActive_ = 0;
  return 1;
}

}  // namespace qx
