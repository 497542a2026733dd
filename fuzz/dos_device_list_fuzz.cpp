// QueryDosDeviceA's answers as the serial and parallel kinds read them when they look
// for the device behind a port the spooler holds: NUL-separated target lists, with a
// stored count that may claim more (or less) than was written.
//
// Input: two bytes of claimed count for the first query, then the first answer up to
// a 0xFF byte, then the second answer (after the private name was defined).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "port/serial/serial_rules.h"

namespace {

class FuzzedDosDevices final : public qx::DosDeviceFunctions {
 public:
  std::string answers[2];
  std::uint32_t claimed = 0;
  int queries = 0;

  bool Define(unsigned, const char*, const char*) override { return true; }
  std::uint32_t Query(const char*, char* buffer, std::uint32_t size) override {
    const std::string& answer = answers[queries < 1 ? 0 : 1];
    const std::size_t n = answer.size() < size ? answer.size() : size;
    std::memcpy(buffer, answer.data(), n);
    const std::uint32_t result = queries == 0 ? claimed : static_cast<std::uint32_t>(n);
    ++queries;
    return result;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  FuzzedDosDevices devices;
  devices.claimed = static_cast<std::uint32_t>(data[0]) << 8 | data[1];
  const std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::size_t cut = rest.find('\xFF');
  devices.answers[0] = rest.substr(0, cut);
  if (cut != std::string::npos) devices.answers[1] = rest.substr(cut + 1);

  // The list alone, in a buffer exactly as long as what was written.
  const std::vector<char> exact(devices.answers[0].begin(), devices.answers[0].end());
  const auto stored = static_cast<std::uint32_t>(exact.size());
  (void)qx::SplitTargetList(exact.data(), devices.claimed, stored);

  const std::string path = qx::ChooseDevicePath("COM3", "ComPortName", true, devices);
  if (path != "\\\\.\\COM3" && path != "\\\\.\\ComPortName") __builtin_trap();
  return 0;
}
