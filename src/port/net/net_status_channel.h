#pragma once

// The network port's datagram status channel: one UDP socket, one receive worker that
// parses every incoming byte, an event per request number and the slot holding the
// last dispatched reply.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/sockets.h"
#include "port/comm_thread.h"
#include "port/net/net_protocol.h"

namespace qx {

// Filled by the network port's GetDeviceInfo.
struct NetDeviceInfo {
  std::string Name;
  std::string MacAddress;
  std::string HardVersion;
  std::string SoftVersion;
  int HardVersionNumber = 0;
  int SoftVersionNumber = 0;
  int StatusFlag = 0;
  int LegacyReply = 1;
  std::string ModelCode;
};

// The byte-by-byte reply parser. Its state carries over from one datagram to the next.
class ZemakParser {
 public:
  struct Packet {
    int Type = 0;
    int TargetType = 0;
    int TargetNumber = 0;
    int Function = 0;
    int ResultCode = 0;
    int DataLength = 0;
    std::uint8_t Data[ZemakDataCapacity] = {};
  };

  // True when this byte completed a packet (then Current() is that packet).
  bool Feed(std::uint8_t byte);
  // Abandons a packet in progress: the next byte is looked at as a possible start.
  void Restart() { state_ = 0; }
  // The packet the parser works on or last completed.
  const Packet& Current() const { return packet_; }
  int State() const { return state_; }

  // The request number a complete packet answers, or RequestNone.
  static int DispatchNumber(const Packet& packet);

 private:
  int state_ = 0;
  int remaining_ = 0;
  Packet packet_;
};

class TNetStatusChannel {
 public:
  // `owner` is the network port (the worker's owner); `clock` times the waits for
  // replies, the listing and the senders' silences, and outlives the channel.
  TNetStatusChannel(TQXCCC& owner, Clock& clock);
  TNetStatusChannel(const TNetStatusChannel&) = delete;
  TNetStatusChannel& operator=(const TNetStatusChannel&) = delete;
  ~TNetStatusChannel();

  void SetAddress(const char* text);
  std::string Address() const;

  int UnicastSend(const std::uint8_t* bytes, int length);
  int BroadcastSend(const std::uint8_t* bytes, int length);

  // -1 no reply, 1 ready (result 0, one data byte 00), 0 any other reply.
  int QueryReady();
  // 1 when the printer answers with result 0 and the value sent; 0 otherwise.
  int SetBypass(int value);
  int SendDeviceRequest();
  // -1 no reply or a failure code, 0 plain answer, 1 extended answer (E000). `data`
  // holds 512 bytes.
  int QueryIdentity(std::uint8_t* data, int* length);
  // 1 for a reply with result 0; 0 otherwise.
  int QueryBasicStatus(std::uint8_t* data, int* length);
  int QueryExtendedStatus(std::uint8_t* data, int* length);

  // GetDeviceInfo with a record: identification. 1 on success, 0 otherwise.
  int Identify(NetDeviceInfo& info);
  // GetDeviceInfo without one: a line per qualifying printer that answers the search
  // within 3000 ms, to the listing output. Returns 1.
  int ListPrinters();

  // Where the listing lines go; standard output unless a test sets it before listing.
  std::function<void(const std::string&)> ListingOutput;

  SocketHandle Handle() const { return socket_.Handle(); }
  static constexpr int ReplyWaitMs = 3000;
  // A sender silent this long in the middle of a packet will not finish it: no request
  // waits longer for an answer.
  static constexpr int PacketGapMs = ReplyWaitMs;
  // The longest a waiting request goes without looking at the clock.
  static constexpr int WaitSliceMs = 10;

 private:
  class TUdpRecvThread;
  struct Reply {
    int ResultCode = -1;
    int DataLength = -1;
  };

  // The request procedure; false when no reply came in time. An answer `fits` refuses
  // (one to an earlier request of the same kind) is passed over while the wait lasts.
  bool Request(int number, const std::uint8_t* bytes, int length, Reply& reply, std::uint8_t* data,
               const std::function<bool(const Reply&, const std::uint8_t*)>& fits = {});
  // Either status query: 1 for a reply with result 0, with its data length.
  int QueryStatus(int number, const ZemakRequestBytes& packet, std::uint8_t* data, int* length);
  // Called by the worker for every complete packet.
  void Dispatch(const ZemakParser::Packet& packet);
  // Called by the worker after each datagram while a listing runs.
  void ListIfQualifies(const ZemakParser::Packet& packet, const Ipv4Endpoint& from);

  Clock& clock_;
  qx::Socket socket_;
  mutable std::mutex lock_;  // guards the address, the events and the slot
  std::condition_variable signal_;
  char address_[16] = {};
  bool events_[ZemakRequestCount + 1] = {};
  // The answers not yet taken, a few per request number: an answer arriving between
  // another one and its waiter taking it (a late or repeated one, of any kind) must not
  // put that one out.
  struct Slot {
    int ResultCode = 0;
    int DataLength = 0;
    std::uint8_t Data[ZemakDataCapacity] = {};
  };
  static constexpr std::size_t SlotsPerRequest = 4;
  std::deque<Slot> slots_[ZemakRequestCount + 1];
  std::atomic<int> listingActive_{0};
  std::unique_ptr<TUdpRecvThread> worker_;
};

}  // namespace qx
