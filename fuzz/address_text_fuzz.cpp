// Address text the operator types or picks in the Add Port dialog: an octet field as it
// loses the focus, a listed address split into the four fields, search answers joining
// the list, and the dotted text the network kinds turn into an address.
//
// Input: text; its first byte picks which field or list item it is tried as.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "addport/add_port_rules.h"
#include "platform/sockets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::string octet = qx::NormaliseOctet(text);
  const long value = std::strtol(octet.c_str(), nullptr, 10);
  if (value < 0 || value > 255 || octet != std::to_string(value)) __builtin_trap();

  std::array<std::string, 4> octets{"192", "168", "192", "168"};
  qx::SplitAddressIntoOctets(text, octets);

  std::vector<std::string> addresses{"127.0.0.1"};
  qx::AddSearchAnswer(addresses, text);
  if (qx::AddSearchAnswer(addresses, text)) __builtin_trap();  // never twice

  qx::Ipv4Address address{};
  if (qx::ParseDottedAddress(text.c_str(), address)) {
    qx::Ipv4Address again{};
    const std::string formatted = qx::FormatDottedAddress(address);
    if (!qx::ParseDottedAddress(formatted.c_str(), again) || again != address) __builtin_trap();
  }
  return 0;
}
