// What the USB drivers hand back: string descriptors (one and a run of them), the
// device descriptor's version, the vendor driver's time-out block and device-state
// word, and the serial kind's device-state rule that shares the same record. The
// input is the driver's answer, exactly as long as the driver said it was.

#include <cstddef>
#include <cstdint>
#include <string>

#include "port/serial/serial_rules.h"
#include "port/usb/usb_rules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The kinds cap what a driver reports at their buffers (1024 bytes at most).
  const auto returned = static_cast<std::uint32_t>(size < 1024 ? size : 1024);

  std::string second, third;
  qx::StringsFromDescriptorRun(data, returned, second, third);
  const std::string extra = qx::StringFromDescriptor(data, returned);
  const std::string version = qx::DeviceVersionFromDescriptor(data, returned);
  if (second.size() > returned || third.size() > returned || extra.size() > returned) __builtin_trap();

  qx::DriverTimeouts timeouts;
  qx::DecodeTimeouts(data, returned, timeouts);

  std::uint32_t state = 0;
  for (std::uint32_t i = 0; i < 4 && i < returned; ++i) state |= static_cast<std::uint32_t>(data[i]) << (8 * i);
  int flag = -1, code = -1;
  qx::UsbStatusFromDeviceState(state, flag, code);
  if (flag < 0 || flag > 1 || code < -1 || code > 4) __builtin_trap();
  qx::StatusFromDeviceState(state, flag, code);
  if (flag < 0 || flag > 1 || code < 0 || code > 3) __builtin_trap();
  return 0;
}
