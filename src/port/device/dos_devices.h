#pragma once

#include <cstdint>

namespace qx {

// The two DOS-device functions, as a seam: the program binds them to KERNEL32's
// DefineDosDeviceA and QueryDosDeviceA, tests to a fake.
class DosDeviceFunctions {
 public:
  virtual ~DosDeviceFunctions() = default;
  // DefineDosDeviceA; `target` may be null. False when the call failed.
  virtual bool Define(unsigned flags, const char* name, const char* target) = 0;
  // QueryDosDeviceA: the characters stored into `buffer` (the NUL-separated target
  // list with its final NUL), 0 on failure.
  virtual std::uint32_t Query(const char* name, char* buffer, std::uint32_t size) = 0;
};

#ifdef _WIN32
// DefineDosDeviceA and QueryDosDeviceA, looked up in "KERNEL32.DLL" at every call; a
// function that is not there counts as a failed call.
DosDeviceFunctions& Kernel32DosDevices();
#endif

}  // namespace qx
