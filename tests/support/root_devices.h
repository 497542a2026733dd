#pragma once

// Root devices with interfaces of a given class in Wine's SetupAPI, linked so that
// DIGCF_PRESENT lists them; removed again when the object goes.

#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "port/device/device_calls.h"

namespace qx::test {

inline GUID ToGuid(const Guid& g) {
  GUID out;
  std::memcpy(&out, &g, sizeof out);
  return out;
}

// A device class of the tests' own for the root devices.
constexpr GUID TestDeviceClass = {0x6A0C3E51, 0x2B7D, 0x4C2E, {0x9B, 0x11, 0x51, 0x58, 0x5A, 0x55, 0x53, 0x42}};

inline std::string GuidText(const GUID& g) {
  char text[64];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

// Sets Control\Linked = 1 under every interface key of a class (with and without the
// "#" reference-string key), which is what makes DIGCF_PRESENT list them.
inline void LinkInterfaces(const GUID& interfaceClass) {
  const std::string classKey = "System\\CurrentControlSet\\Control\\DeviceClasses\\" + GuidText(interfaceClass);
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, classKey.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  std::vector<std::string> names;
  char name[512];
  for (DWORD i = 0;; ++i) {
    DWORD size = sizeof name;
    if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, size);
  }
  const DWORD one = 1;
  for (const auto& sub : names) {
    for (const std::string& control : {sub + "\\Control", sub + "\\#\\Control"}) {
      HKEY c = nullptr;
      if (RegCreateKeyExA(key, control.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &c, nullptr) == ERROR_SUCCESS) {
        RegSetValueExA(c, "Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
        RegCloseKey(c);
      }
    }
  }
  RegCloseKey(key);
}

class RootDevices {
 public:
  RootDevices() : set_(SetupDiCreateDeviceInfoList(&TestDeviceClass, nullptr)) {}
  ~RootDevices() {
    for (auto& device : devices_) SetupDiRemoveDevice(set_, &device);
    SetupDiDestroyDeviceInfoList(set_);
  }

  // A root device with one interface of the class; the interface's path, or "".
  std::string Add(const GUID& interfaceClass) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiCreateDeviceInfoA(set_, "QXUSBTEST", &TestDeviceClass, nullptr, nullptr, DICD_GENERATE_ID, &device)) {
      return "";
    }
    if (!SetupDiRegisterDeviceInfo(set_, &device, 0, nullptr, nullptr, nullptr)) return "";
    devices_.push_back(device);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiCreateDeviceInterfaceA(set_, &device, &interfaceClass, nullptr, 0, &data)) return "";
    LinkInterfaces(interfaceClass);
    char storage[1024 + 16] = {};
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set_, &data, detail, sizeof storage, nullptr, nullptr)) return "";
    return detail->DevicePath;
  }

 private:
  HDEVINFO set_;
  std::vector<SP_DEVINFO_DATA> devices_;
};

}  // namespace qx::test
