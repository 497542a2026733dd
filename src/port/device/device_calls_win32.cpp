#include <windows.h>
#include <setupapi.h>

#include <cstring>
#include <vector>

#include "port/device/device_calls.h"

namespace qx {

namespace {

static_assert(sizeof(Guid) == sizeof(GUID));

std::uint32_t Result(BOOL ok) {
  if (ok) return win::DeviceOk;
  const DWORD error = GetLastError();
  return error != 0 ? error : win::ErrorGenFailure;
}

class Kernel32Calls final : public DeviceCalls {
 public:
  DeviceHandle CreateFileA(const char* path, std::uint32_t access, std::uint32_t share, std::uint32_t creation,
                           std::uint32_t flags, std::uint32_t& error) override {
    HANDLE h = ::CreateFileA(path, access, share, nullptr, creation, flags, nullptr);
    error = h == INVALID_HANDLE_VALUE ? Result(FALSE) : win::DeviceOk;
    return h;
  }
  std::uint32_t ReadFile(DeviceHandle device, void* buffer, std::uint32_t size, std::uint32_t& count,
                         DeviceOverlapped* overlapped) override {
    DWORD n = 0;
    const std::uint32_t error = Result(::ReadFile(device, buffer, size, &n, overlapped));
    count = n;
    return error;
  }
  std::uint32_t WriteFile(DeviceHandle device, const void* data, std::uint32_t size, std::uint32_t& count,
                          DeviceOverlapped* overlapped) override {
    DWORD n = 0;
    const std::uint32_t error = Result(::WriteFile(device, data, size, &n, overlapped));
    count = n;
    return error;
  }
  std::uint32_t DeviceIoControl(DeviceHandle device, std::uint32_t code, const void* in, std::uint32_t inSize,
                                void* out, std::uint32_t outSize, std::uint32_t& returned) override {
    DWORD n = 0;
    const std::uint32_t error =
        Result(::DeviceIoControl(device, code, const_cast<void*>(in), inSize, out, outSize, &n, nullptr));
    returned = n;
    return error;
  }
  std::uint32_t GetOverlappedResult(DeviceHandle device, DeviceOverlapped* overlapped, std::uint32_t& count,
                                    bool wait) override {
    DWORD n = 0;
    const std::uint32_t error = Result(::GetOverlappedResult(device, overlapped, &n, wait ? TRUE : FALSE));
    count = n;
    return error;
  }
  DeviceHandle CreateEventA(bool manualReset, bool initialState) override {
    return ::CreateEventA(nullptr, manualReset ? TRUE : FALSE, initialState ? TRUE : FALSE, nullptr);
  }
  bool CloseHandle(DeviceHandle handle) override { return ::CloseHandle(handle) != 0; }
  std::uint32_t CancelIo(DeviceHandle device) override { return Result(::CancelIo(device)); }
  bool FindDeviceInterfacePath(const Guid& interfaceClass, std::uint32_t index, std::string& path) override {
    return qx::FindDeviceInterfacePath(interfaceClass, index, path);
  }
  std::uint32_t QueryDosDeviceA(const char* name, char* buffer, std::uint32_t size) override {
    return ::QueryDosDeviceA(name, buffer, size);
  }
  std::uint32_t TickCount() override { return ::GetTickCount(); }
  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

// SETUPAPI.DLL for one lookup: loaded by the first call that needs it, unloaded when
// the device list is destroyed. Functions are fetched by name at every call; a missing
// module or function makes the call fail.
class RuntimeSetupApi {
 public:
  RuntimeSetupApi() = default;
  RuntimeSetupApi(const RuntimeSetupApi&) = delete;
  RuntimeSetupApi& operator=(const RuntimeSetupApi&) = delete;
  ~RuntimeSetupApi() { Unload(); }

  HDEVINFO GetClassDevs(const GUID* cls, DWORD flags) {
    using Fn = HDEVINFO(WINAPI*)(const GUID*, PCSTR, HWND, DWORD);
    auto fn = Lookup<Fn>("SetupDiGetClassDevsA");
    return fn ? fn(cls, nullptr, nullptr, flags) : INVALID_HANDLE_VALUE;
  }
  BOOL EnumDeviceInterfaces(HDEVINFO list, const GUID* cls, DWORD index, SP_DEVICE_INTERFACE_DATA* data) {
    using Fn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA);
    auto fn = Lookup<Fn>("SetupDiEnumDeviceInterfaces");
    if (!fn) {
      SetLastError(ERROR_NO_MORE_ITEMS);
      return FALSE;
    }
    return fn(list, nullptr, cls, index, data);
  }
  BOOL GetInterfaceDetail(HDEVINFO list, SP_DEVICE_INTERFACE_DATA* data, SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                          DWORD size, DWORD* required) {
    using Fn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD, PDWORD,
                             PSP_DEVINFO_DATA);
    auto fn = Lookup<Fn>("SetupDiGetDeviceInterfaceDetailA");
    return fn ? fn(list, data, detail, size, required, nullptr) : FALSE;
  }
  // Destroys the list and unloads the module.
  void DestroyList(HDEVINFO list) {
    using Fn = BOOL(WINAPI*)(HDEVINFO);
    if (auto fn = Lookup<Fn>("SetupDiDestroyDeviceInfoList")) fn(list);
    Unload();
  }

 private:
  template <class Fn>
  Fn Lookup(const char* name) {
    if (!module_) module_ = LoadLibraryA("SETUPAPI.DLL");
    if (!module_) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }
  void Unload() {
    if (module_) FreeLibrary(module_);
    module_ = nullptr;
  }

  HMODULE module_ = nullptr;
};

constexpr std::size_t MaxDevicePath = 1024;

}  // namespace

DeviceCalls& Kernel32DeviceCalls() {
  static Kernel32Calls calls;
  return calls;
}

bool FindDeviceInterfacePath(const Guid& interfaceClass, std::uint32_t index, std::string& path) {
  path.clear();
  GUID cls;
  std::memcpy(&cls, &interfaceClass, sizeof cls);
  RuntimeSetupApi api;
  HDEVINFO list = api.GetClassDevs(&cls, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (list == INVALID_HANDLE_VALUE) return false;

  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  if (!api.EnumDeviceInterfaces(list, &cls, index, &data)) {
    api.DestroyList(list);
    return false;
  }
  DWORD required = 0;
  api.GetInterfaceDetail(list, &data, nullptr, 0, &required);
  if (required >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
    // Aligned storage for the record, whatever size the system asked for.
    std::vector<std::uint64_t> storage((required + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t) + 1);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (api.GetInterfaceDetail(list, &data, detail, required, nullptr)) {
      const std::size_t room = required - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
      const char* text = detail->DevicePath;
      std::size_t length = 0;
      while (length < room && length < MaxDevicePath && text[length] != '\0') ++length;
      path.assign(text, length);
    }
  }
  api.DestroyList(list);
  return true;
}

std::vector<int> PresentInterfaces(const Guid& interfaceClass, std::vector<std::string>* paths) {
  constexpr std::uint32_t LastIndex = 126;
  std::vector<int> found;
  std::string path;
  for (std::uint32_t index = 0; index <= LastIndex; ++index) {
    if (!FindDeviceInterfacePath(interfaceClass, index, path)) break;
    // A member whose details cannot be read is skipped, not listed.
    if (path.empty()) continue;
    found.push_back(static_cast<int>(index));
    if (paths) paths->push_back(path);
  }
  return found;
}

}  // namespace qx
