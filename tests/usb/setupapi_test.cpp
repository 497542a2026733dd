// FindDeviceInterfacePath against Wine's real SetupAPI: root devices are created with
// the vendor interface class and the USB printer interface class, linked so that they
// count as present, and removed again afterwards.

#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "port/standard_ports.h"
#include "port/usb/usb_device.h"
#include "port/usb/usb_port.h"
#include "port/usb/usb_printer.h"

namespace qx {
namespace {

GUID ToGuid(const Guid& g) {
  GUID out;
  std::memcpy(&out, &g, sizeof out);
  return out;
}

// A device class of the tests' own for the root devices.
constexpr GUID TestDeviceClass = {0x6A0C3E51, 0x2B7D, 0x4C2E, {0x9B, 0x11, 0x51, 0x58, 0x5A, 0x55, 0x53, 0x42}};

std::string GuidText(const GUID& g) {
  char text[64];
  std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3],
                g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

// Sets Control\Linked = 1 under every interface key of a class (with and without the
// "#" reference-string key), which is what makes DIGCF_PRESENT list them.
void LinkInterfaces(const GUID& interfaceClass) {
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

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && _stricmp(a.c_str(), b.c_str()) == 0;
}

TEST(SetupApi, FindDeviceInterfacePathFindsPresentRootDevicesOfBothClasses) {
  std::string path;
  RootDevices devices;
  const std::string vendor0 = devices.Add(ToGuid(VendorUsbInterfaceClass));
  const std::string vendor1 = devices.Add(ToGuid(VendorUsbInterfaceClass));
  const std::string printer0 = devices.Add(ToGuid(UsbPrintInterfaceClass));
  ASSERT_FALSE(vendor0.empty());
  ASSERT_FALSE(vendor1.empty());
  ASSERT_FALSE(printer0.empty());

  std::vector<std::string> found;
  for (std::uint32_t i = 0; i < 2; ++i) {
    ASSERT_TRUE(FindDeviceInterfacePath(VendorUsbInterfaceClass, i, path)) << i;
    found.push_back(path);
  }
  EXPECT_FALSE(FindDeviceInterfacePath(VendorUsbInterfaceClass, 2, path));
  EXPECT_TRUE((SameText(found[0], vendor0) && SameText(found[1], vendor1)) ||
              (SameText(found[0], vendor1) && SameText(found[1], vendor0)))
      << found[0] << " / " << found[1];
  ASSERT_TRUE(FindDeviceInterfacePath(UsbPrintInterfaceClass, 0, path));
  EXPECT_TRUE(SameText(path, printer0)) << path;
  EXPECT_FALSE(FindDeviceInterfacePath(UsbPrintInterfaceClass, 1, path));

  // The seam's production binding gives the same, and the printer-class listing shows
  // the interface (its DOS-name query fails on a root device without a driver).
  DeviceCalls& calls = Kernel32DeviceCalls();
  ASSERT_TRUE(calls.FindDeviceInterfacePath(UsbPrintInterfaceClass, 0, path));
  EXPECT_TRUE(SameText(path, printer0));
  QX_USBPrinterClass device(calls);
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  device.ListDevices(out);
  std::rewind(out);
  char line[256] = {};
  ASSERT_NE(std::fgets(line, sizeof line, out), nullptr);
  std::fclose(out);
  EXPECT_EQ(std::string(line).rfind("  USB Port          USB000", 0), 0u) << line;

  // No driver stands behind these devices: both kinds find them and fail to open them.
  auto vendorPort = CreateStandardPort(KindVendorUsb);
  auto printerPort = CreateStandardPort(KindUsbPrinter);
  EXPECT_NE(dynamic_cast<TQXUSB*>(vendorPort.get()), nullptr);
  EXPECT_NE(dynamic_cast<TQXUSBPRN*>(printerPort.get()), nullptr);
  EXPECT_EQ(vendorPort->Open(), 0);
  EXPECT_EQ(printerPort->Open(), 0);
  EXPECT_EQ(vendorPort->Close(), 1);
  EXPECT_EQ(printerPort->Close(), 1);
}

}  // namespace
}  // namespace qx
