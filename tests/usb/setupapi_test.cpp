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
#include "port/device/device_calls.h"
#include "port/usb/usb_port.h"
#include "port/usb/usb_printer.h"
#include "support/root_devices.h"

namespace qx {
namespace {

using test::RootDevices;
using test::ToGuid;

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
