#include <windows.h>

#include "port/device/dos_devices.h"

namespace qx {

namespace {

class Kernel32DosDeviceFunctions final : public DosDeviceFunctions {
 public:
  bool Define(unsigned flags, const char* name, const char* target) override {
    using Fn = BOOL(WINAPI*)(DWORD, LPCSTR, LPCSTR);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(Lookup("DefineDosDeviceA")));
    return fn && fn(flags, name, target) != 0;
  }
  std::uint32_t Query(const char* name, char* buffer, std::uint32_t size) override {
    using Fn = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);
    auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(Lookup("QueryDosDeviceA")));
    return fn ? fn(name, buffer, size) : 0;
  }

 private:
  static FARPROC Lookup(const char* function) {
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    return kernel ? GetProcAddress(kernel, function) : nullptr;
  }
};

}  // namespace

DosDeviceFunctions& Kernel32DosDevices() {
  static Kernel32DosDeviceFunctions functions;
  return functions;
}

}  // namespace qx
