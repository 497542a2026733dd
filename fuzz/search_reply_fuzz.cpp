// A datagram that reaches the network search's socket, from anyone: the search's reply
// check, and the identity rule the status channel shares with it.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "port/net/net_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The search receives into a buffer of ZemakDataCapacity bytes; a longer datagram
  // is cut to it.
  const int n = static_cast<int>(size < qx::ZemakDataCapacity ? size : qx::ZemakDataCapacity);
  bool wellFormed = true;
  const int result = qx::CheckSearchReply(data, n, &wellFormed);
  if (result != 0 && result != 1) __builtin_trap();
  if (result == 1 && !wellFormed) __builtin_trap();
  // A well-formed reply announces exactly the data it carries.
  if (wellFormed && (data[12] << 8 | data[13]) != n - qx::ZemakHeaderSize) __builtin_trap();

  if (n >= 2) {
    const int code = data[0] << 8 | data[1];
    (void)qx::IdentityQualifies(code, data + 2, n - 2);
  }
  for (std::size_t i = 0; i < size && i < 8; ++i) {
    const int type = qx::ZemakPacketTypeCode(data[i]);
    if (type < -1 || type > 5) __builtin_trap();
  }
  return 0;
}
