// This program does not import SETUPAPI.DLL: each lookup loads it and lets it go.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "port/device/device_calls.h"

namespace qx {
namespace {

TEST(SetupApiAtRunTime, EachLookupLoadsAndUnloadsTheLibrary) {
  ASSERT_EQ(GetModuleHandleA("SETUPAPI.DLL"), nullptr);
  std::string path = "stale";
  FindDeviceInterfacePath(UsbPrintInterfaceClass, 63, path);
  EXPECT_EQ(path, "");
  EXPECT_EQ(GetModuleHandleA("SETUPAPI.DLL"), nullptr);
  FindDeviceInterfacePath(VendorUsbInterfaceClass, 0, path);
  EXPECT_EQ(GetModuleHandleA("SETUPAPI.DLL"), nullptr);
}

}  // namespace
}  // namespace qx
