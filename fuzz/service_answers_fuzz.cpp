// What the port-service client library hands back: the port list answer (walked for
// the listing and for the entry of a port number) and a property answer, and the
// listing lines made from them. The input is the answer, exactly as long as the
// library's buffer; its first byte picks the port number looked up.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "port/service/service_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const int position = static_cast<std::int8_t>(data[0]);
  const unsigned char* answer = data + 1;
  const std::size_t length = size - 1 < qx::ServiceAnswerBytes ? size - 1 : qx::ServiceAnswerBytes;

  const std::vector<qx::WideText> names = qx::PortListNames(answer, length);
  for (const auto& name : names) {
    if (name.empty() || name.size() * 2 > length) __builtin_trap();
    (void)qx::PipeListingLine(name);
  }
  if (auto entry = qx::PortListEntry(answer, length, position)) {
    if (entry->size() > qx::MaxServicePortNameLength) __builtin_trap();
    (void)qx::TcpListingLine(*entry, qx::Widen("127.0.0.1"));
  }
  const qx::WideText text = qx::AnswerText(answer, length);
  if (text.size() * 2 > length) __builtin_trap();
  (void)qx::PropertyField(text);
  (void)qx::LastPropertyField(text);
  return 0;
}
