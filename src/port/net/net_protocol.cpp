#include "port/net/net_protocol.h"

#include <cstring>

namespace qx {

int ZemakPacketTypeCode(std::uint8_t letter) {
  switch (letter) {
    case 'p': return PacketSearch;
    case 'i': return PacketInfo;
    case 'q': return PacketQuery;
    case 's': return PacketStatus;
    case 'c': return PacketControl;
    case 'n': return PacketNotice;
    default: return -1;
  }
}

bool IdentityQualifies(int resultCode, const std::uint8_t* data, int dataLength) {
  if (resultCode == 0) return dataLength >= 4 && std::memcmp(data, "NX-L", 4) == 0;
  if (resultCode == ResultExtended) return dataLength > 61 && data[61] == 4;
  return false;
}

int CheckSearchReply(const std::uint8_t* bytes, int n, bool* wellFormed) {
  if (wellFormed) *wellFormed = false;
  if (n < ZemakHeaderSize) return 0;
  const unsigned dataLength = static_cast<unsigned>(n - ZemakHeaderSize);
  for (int i = 0; i < ZemakHeaderSize - 2; ++i) {
    const std::uint8_t got = bytes[i];
    const std::uint8_t want = SearchPacket[i];
    if (got == want) continue;
    if (i == 5 && got == want + 0x20) continue;
    if (i == 10 && (got == 0x00 || got == 0xE0)) continue;
    return 0;
  }
  // The length field as one number: compared byte by byte against the request's zeros,
  // a zero byte would pass whatever the datagram's size.
  const unsigned announced = static_cast<unsigned>(bytes[12]) << 8 | bytes[13];
  if (announced != dataLength) return 0;
  if (wellFormed) *wellFormed = true;
  const std::uint8_t* data = bytes + ZemakHeaderSize;
  if (bytes[10] == 0x00) {
    return dataLength >= 4 && std::memcmp(data, "NX-L", 4) == 0 ? 1 : 0;
  }
  return dataLength > 61 && (data[61] & 0x04) != 0 ? 1 : 0;
}

}  // namespace qx
