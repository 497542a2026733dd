// The port-service kind where its client library cannot be found: this program runs
// from a folder of its own without "ZemakPH.dll" (and the prefix has no
// "ZEMAK\ZTovel\ZTovel.dll" under Program Files). The kind still exists in the program's
// port table and fails cleanly; an exchange over it reports that the port cannot open.

#include <gtest/gtest.h>

#include <windows.h>

#include "support/fake_host.h"
#include "app/main_window_logic.h"
#include "port/placeholder_port.h"
#include "port/service/service_port.h"
#include "port/standard_ports.h"

namespace qx {
namespace {

TEST(ServiceWithoutLibrary, NoLibraryCanBeFound) {
  HMODULE module = LoadLibraryW(L"ZemakPH.dll");
  EXPECT_EQ(module, nullptr) << "a ZemakPH.dll is reachable from this program's folder";
  if (module != nullptr) FreeLibrary(module);
}

TEST(ServiceWithoutLibrary, ThePortExistsAndFailsCleanly) {
  auto port = CreateStandardPort(KindPortService);
  auto* service = dynamic_cast<TQXPH*>(port.get());
  ASSERT_NE(service, nullptr);
  EXPECT_FALSE(service->LibraryLoaded());
  std::string listing;
  service->ListingSink = [&](std::string_view text) { listing.append(text); };

  PortSettings s;
  s.PortType = KindPortService;
  s.SyncMode = 1;
  s.PortNumber = 3;
  EXPECT_EQ(service->Configure(&s), 0);
  EXPECT_EQ(service->ServicePortName, u"PVDPRT001");
  EXPECT_EQ(service->Open(), 0);
  EXPECT_EQ(service->IsOpen(), 0);
  EXPECT_EQ(service->GetHandle(), 0);
  int count = -1;
  EXPECT_EQ(service->Write(0, "abc", 3, &count), 0);
  EXPECT_EQ(count, 0);
  char buffer[8];
  count = -1;
  EXPECT_EQ(service->Read(buffer, sizeof buffer, &count), 1);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(service->GetDeviceInfo(nullptr), 0);
  EXPECT_EQ(listing, "");
  EXPECT_EQ(service->Close(), 0);
}

TEST(ServiceWithoutLibrary, AnExchangeReportsThatThePortCannotOpen) {
  PortTable table([](int kind) -> std::unique_ptr<TQXCCC> {
    if (kind == KindPortService) return CreateStandardPort(kind);
    return std::make_unique<TPlaceholderPort>(kind, kind);
  });
  test::FakeHost host;
  MainWindowLogic logic(table, host);
  logic.CreatePorts(nullptr);
  EXPECT_EQ(table.CreateCount(), PortKindCount);
  ASSERT_NE(table.At(KindPortService), nullptr);

  PortSettings s = logic.CurrentSettings();
  s.PortType = KindPortService;
  s.PortNumber = 1;
  logic.AddPortEntry("PH-001", s);
  logic.PortComboBoxChange();
  logic.GetButtonClick();
  EXPECT_EQ(host.Boxes(), (std::vector<std::string>{"box Error (error icon): This utility can't open communication port."}));
  logic.DestroyPorts();
  EXPECT_EQ(table.CreateCount(), 0);
}

}  // namespace
}  // namespace qx
