#pragma once

// The printer's datagram protocol on UDP 3289: the packet layout, every request the
// host sends, and the checks that the search and the status channel share.
//
// Packet: "ZEMAK", type letter, target type, target number, function (16 bits), result
// code (16 bits), data length (16 bits), data. Multi-byte fields are big-endian.

#include <array>
#include <cstddef>
#include <cstdint>

namespace qx {

inline constexpr std::uint16_t ZemakPort = 3289;
inline constexpr std::uint16_t RawPrintPort = 9100;
inline constexpr int ZemakHeaderSize = 14;
// The most data a reply may carry into the host's buffers.
inline constexpr int ZemakDataCapacity = 512;
inline constexpr std::uint16_t ResultExtended = 0xE000;

// Request numbers: each has its own event and is the number a dispatched reply carries.
enum ZemakRequestNumber : int {
  RequestNone = -1,
  RequestBasicStatus = 1,
  RequestExtendedStatus = 2,
  RequestDeviceRequest = 3,
  RequestBypass = 4,
  RequestReady = 5,
  RequestIdentity = 6,
};
inline constexpr int ZemakRequestCount = 6;

using ZemakRequestBytes = std::array<std::uint8_t, 14>;
using ZemakControlBytes = std::array<std::uint8_t, 15>;

inline constexpr ZemakRequestBytes QueryReadyPacket{'Z', 'E', 'M', 'A', 'K', 'Q', 3, 0, 0x00, 0x20, 0, 0, 0, 0};
inline constexpr ZemakRequestBytes QueryIdentityPacket{'Z', 'E', 'M', 'A', 'K', 'Q', 0, 0, 0x00, 0x00, 0, 0, 0, 0};
inline constexpr ZemakRequestBytes QueryBasicStatusPacket{'Z', 'E', 'M', 'A', 'K', 'Q', 3, 0, 0x00, 0x00, 0, 0, 0, 0};
inline constexpr ZemakRequestBytes QueryExtendedStatusPacket{'Z', 'E', 'M', 'A', 'K', 'Q', 3, 0, 0x00, 0x01,
                                                            0,   0,   0, 0};
inline constexpr ZemakRequestBytes SearchPacket{'Z', 'E', 'M', 'A', 'K', 'P', 0, 0, 0, 0, 0, 0, 0, 0};
inline constexpr ZemakControlBytes SendDeviceRequestPacket{'Z', 'E', 'M', 'A', 'K', 'C', 3, 0,
                                                           0x00, 0x12, 0, 0, 0, 1, 0};
// The bypass value goes into the last byte.
inline constexpr ZemakControlBytes SetBypassPacket{'Z', 'E', 'M', 'A', 'K', 'C', 3, 0, 0x00, 0x15, 0, 0, 0, 1, 0};

// Packet type codes of the reply letters as the parser numbers them.
enum ZemakPacketType : int {
  PacketSearch = 0,    // 'p'
  PacketInfo = 1,      // 'i'
  PacketQuery = 2,     // 'q'
  PacketStatus = 3,    // 's'
  PacketControl = 4,   // 'c'
  PacketNotice = 5,    // 'n'
};
// The code of a reply letter, -1 for any other byte.
int ZemakPacketTypeCode(std::uint8_t letter);

// Whether an identification or search reply comes from an interface the host uses:
// result 0 with data beginning "NX-L", or result E000 with data byte 61 equal to 4.
bool IdentityQualifies(int resultCode, const std::uint8_t* data, int dataLength);

// The search's check of one received datagram (`n` bytes): a well-formed 'p' reply
// whose length field matches the datagram, result 0 or E000, from a printer that
// qualifies (result 0 and "NX-L", or result E000 and bit 0x04 of data byte 61).
// `wellFormed` says whether the header passed, so that the caller can still report the
// sender of a reply that does not qualify.
int CheckSearchReply(const std::uint8_t* bytes, int n, bool* wellFormed = nullptr);

}  // namespace qx
