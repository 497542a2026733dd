#pragma once

// The simulated printer's network interface on UDP port 3289: it answers the ZEMAK
// status and identification requests and the search, always to the address and port
// the request came from. It never sends anything of its own accord.
//
// Packet: "ZEMAK", type letter, target type, target number, function (16 bits),
// result code (16 bits), data length (16 bits), data; big-endian. A reply carries the
// request's letter in lower case and the request's target, number and function.
//
//   request               type target func  reply result  reply data
//   QueryReady            Q    3      0020  0000          ReadyByte
//   SetBypass (v)         C    3      0015  0000          v
//   SendDeviceRequest     C    3      0012  0000          00
//   QueryIdentity         Q    0      0000  0000 / E000   identity block
//   QueryBasicStatus      Q    3      0000  0000          basic status block
//   QueryExtendedStatus   Q    3      0001  0000          extended status block
//   search                P    0      0000  0000 / E000   identity block
// (result E000 for an Extended interface). Other datagrams get no reply.
//
// Identity block (IdentityLength bytes, zero-filled): the identity text NUL-terminated
// at 0 (at most 35 characters), hardware version at 36-37, software version at 38-39,
// MAC at 40-45, Byte61 at 61. Basic status block: BasicStatus at 1. Extended status
// block: ModelPrefix at 6-9, ExtendedStatus at 38.
//
// The transport hands in each datagram with Receive and sends what TakeDue returns.
// Time comes from the Clock; every member may be called from any thread. When given a
// PrinterEngine, the interface is silent while that printer is unreachable.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/engine/clock.h"
#include "sim/engine/printer_engine.h"

namespace qx::sim {

enum class ZemakRequest : int {
  QueryReady = 0,
  SetBypass,
  SendDeviceRequest,
  QueryIdentity,
  QueryBasicStatus,
  QueryExtendedStatus,
  Search,
};
inline constexpr int ZemakRequestKinds = 7;

// "ready", "bypass", "device", "identity", "basic", "extended", "search".
const char* ZemakRequestName(ZemakRequest request);
std::optional<ZemakRequest> ZemakRequestFromName(std::string_view name);

// An IPv4 address (first octet first) and a port in host order.
struct Peer {
  std::array<std::uint8_t, 4> Address{};
  std::uint16_t Port = 0;
  bool operator==(const Peer&) const = default;
};
std::string FormatPeer(const Peer& peer);  // "127.0.0.1:3289"

struct Datagram {
  Peer To;
  Bytes Data;
};

enum class ZemakInterface {
  Plain,     // identification and search answered with result 0 and an "NX-L" identity
  Extended,  // answered with result E000; Byte61 tells the host what it is
};

struct ZemakConfig {
  ZemakInterface Interface = ZemakInterface::Plain;
  std::string Identity = "NX-L72";
  std::array<std::uint8_t, 6> Mac{0x02, 0x00, 0x00, 0x4B, 0x40, 0x07};
  std::uint8_t HardMajor = 0x02;
  std::uint8_t HardMinor = 0x00;
  std::uint8_t SoftMajor = 0x01;
  std::uint8_t SoftMinor = 0x10;
  std::uint8_t Byte61 = 0x04;
  std::uint8_t ReadyByte = 0x00;       // 00 = ready
  std::uint8_t BasicStatus = 0x04;
  std::uint8_t ExtendedStatus = 0x04;
  std::string ModelPrefix = "NX-G";    // four letters
  int IdentityLength = 144;
  int BasicStatusLength = 16;
  int ExtendedStatusLength = 64;

  static ZemakConfig Plain();
  static ZemakConfig Extended();  // identity "NX-G72", result E000
};

// A misbehaviour of the replies to one request kind (or to all). The reply packet is
// built with ResultCode/Data/PadDataTo/AnnouncedLength, or replaced whole; Before and
// After go into the same datagram; SplitAt then cuts that datagram into several.
struct DatagramFault {
  bool Silent = false;                       // no reply
  std::optional<Bytes> Replace;              // these datagram bytes instead of the reply packet
  std::optional<std::uint16_t> ResultCode;   // instead of the normal result code
  std::optional<Bytes> Data;                 // instead of the normal data
  int PadDataTo = 0;                         // data zero-padded to this length (over 512 allowed)
  int AnnouncedLength = -1;                  // DataLength field instead of the data's length
  Bytes Before;                              // bytes ahead of the packet, same datagram
  Bytes After;                               // bytes behind it, same datagram
  std::vector<int> SplitAt;                  // cut the datagram at these offsets (ascending)
  int DelayMs = 0;                           // sent this much later
  int Count = -1;                            // replies it spoils, then it is gone (-1 = all)
};

struct ZemakLogEntry {
  std::int64_t TimeMs = 0;
  Direction Dir = Direction::Note;  // HostToPrinter = received, PrinterToHost = sent
  Peer With;
  Bytes Data;                       // datagram bytes, or the text of a note
};
// "   1.234 udp 127.0.0.1:40000 host> 5A 45 ...", "... qx<   5A 45 ...", "... note  text"
std::string FormatZemakLogEntry(const ZemakLogEntry& entry);

class ZemakResponder {
 public:
  explicit ZemakResponder(Clock& clock, ZemakConfig config = {}, const PrinterEngine* printer = nullptr);
  ZemakResponder(const ZemakResponder&) = delete;
  ZemakResponder& operator=(const ZemakResponder&) = delete;
  ~ZemakResponder();

  ZemakConfig Config() const;
  void SetConfig(const ZemakConfig& config);

  void SetFault(ZemakRequest request, const DatagramFault& fault);
  void SetFaultForAll(const DatagramFault& fault);
  void ClearFaults();

  // One datagram from `from`; its replies are queued for `from`.
  void Receive(const Peer& from, std::string_view datagram);
  // The queued datagrams whose time has come, in order (dropped while unreachable).
  std::vector<Datagram> TakeDue();
  // Milliseconds until the next queued datagram is due: 0 now, -1 none queued.
  std::int64_t MillisecondsUntilNext() const;
  bool Reachable() const;

  int RequestsReceived(ZemakRequest request) const;
  // The value of the last SetBypass (-1 before the first).
  int Bypass() const;

  std::vector<ZemakLogEntry> Log() const;
  void ClearLog();
  void SetLogSink(std::function<void(const ZemakLogEntry&)> sink);  // runs under the lock

  // The data block the interface answers a request with now, without faults.
  Bytes ReplyData(ZemakRequest request) const;

  // A packet in the wire format.
  static Bytes Packet(char type, std::uint8_t target, std::uint8_t number, std::uint16_t function,
                      std::uint16_t result, std::string_view data);
  // The request bytes a host sends (the bypass value for SetBypass).
  static Bytes RequestBytes(ZemakRequest request, std::uint8_t value = 0);

 private:
  struct State;
  void Answer(const Peer& from, ZemakRequest request, char type, std::uint8_t target, std::uint8_t number,
              std::uint16_t function, std::uint8_t value);
  Bytes ReplyDataLocked(ZemakRequest request, std::uint8_t value) const;
  bool ReachableLocked() const;
  void AddLog(Direction dir, const Peer& with, Bytes data) const;

  Clock& clock_;
  const PrinterEngine* printer_;
  mutable std::mutex lock_;
  std::unique_ptr<State> s_;
};

}  // namespace qx::sim
