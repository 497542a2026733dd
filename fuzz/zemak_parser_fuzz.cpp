// The network port's status channel reads every datagram from port 3289 byte by byte
// through one parser whose state carries over between datagrams: here the bytes of a
// run of datagrams, from the printer or anyone else, fed to one parser.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "port/net/net_status_channel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qx::ZemakParser parser;
  for (std::size_t i = 0; i < size; ++i) {
    if (!parser.Feed(data[i])) continue;
    const qx::ZemakParser::Packet& packet = parser.Current();
    // A packet may announce more than the buffer holds; it is counted through and only
    // a length that fits is ever copied out, as the channel's dispatch does.
    if (packet.DataLength < 0 || packet.DataLength > 0xFFFF) __builtin_trap();
    if (packet.DataLength > 0 && packet.DataLength <= qx::ZemakDataCapacity) {
      std::vector<std::uint8_t> slot(static_cast<std::size_t>(packet.DataLength));
      std::memcpy(slot.data(), packet.Data, slot.size());
    }
    const int number = qx::ZemakParser::DispatchNumber(packet);
    if (number != qx::RequestNone && (number < 1 || number > qx::ZemakRequestCount)) __builtin_trap();
  }
  return 0;
}
