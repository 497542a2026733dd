// Loading the service's client library: the normal DLL search first, then the folder
// from the registry. A fake loader records the paths tried; the module it finally
// hands over is the test library beside this program.

#include "port/service/service_library_win32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "port/service/service_port.h"
#include "port/standard_ports.h"

namespace qx {
namespace {

class FakeLoader final : public ModuleLoader {
 public:
  std::vector<std::wstring> tried;
  std::wstring succeedsFor;  // the path that loads (as the test library)
  ProgramFilesLookup folder;
  int lookups = 0;

  HMODULE Load(const std::wstring& path) override {
    tried.push_back(path);
    return path == succeedsFor ? LoadLibraryW(L"ZemakPH.dll") : nullptr;
  }
  ProgramFilesLookup ProgramFilesDir() override {
    ++lookups;
    return folder;
  }
};

void ExpectAllEntryPoints(const ServiceLibrary& library) {
  const ServiceEntryPoints& e = library.Entries();
  EXPECT_TRUE(e.Open && e.Close && e.Lock && e.Unlock && e.SendReceive && e.Ioctl && e.RegisterCallback &&
              e.UnRegisterCallback);
}

TEST(ServiceLoader, TheNormalSearchComesFirst) {
  FakeLoader loader;
  loader.succeedsFor = L"ZemakPH.dll";
  auto library = LoadServiceLibrary(loader);
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(loader.tried, (std::vector<std::wstring>{L"ZemakPH.dll"}));
  EXPECT_EQ(loader.lookups, 0);
  ExpectAllEntryPoints(*library);
}

TEST(ServiceLoader, ThenTheProgramFilesFolderFromTheRegistry) {
  FakeLoader loader;
  loader.folder = {true, true, u"D:\\Programme"};
  loader.succeedsFor = L"D:\\Programme\\ZEMAK\\ZTovel\\ZTovel.dll";
  auto library = LoadServiceLibrary(loader);
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(loader.tried, (std::vector<std::wstring>{L"ZemakPH.dll", L"D:\\Programme\\ZEMAK\\ZTovel\\ZTovel.dll"}));
  ExpectAllEntryPoints(*library);
}

TEST(ServiceLoader, WithoutTheRegistryKeyTheDefaultFolder) {
  FakeLoader loader;
  auto library = LoadServiceLibrary(loader);
  EXPECT_EQ(library, nullptr);
  EXPECT_EQ(loader.tried,
            (std::vector<std::wstring>{L"ZemakPH.dll", L"C:\\Program Files\\ZEMAK\\ZTovel\\ZTovel.dll"}));
}

TEST(ServiceLoader, TheSystemRegistryNamesTheProgramFilesFolder) {
  const ProgramFilesLookup folder = SystemModuleLoader().ProgramFilesDir();
  EXPECT_TRUE(folder.KeyOpened);
  EXPECT_TRUE(folder.ValueRead);
  EXPECT_FALSE(folder.Value.empty());
  EXPECT_EQ(folder.Value.find(u'\0'), std::u16string::npos);
}

TEST(ServiceLoader, AModuleWithoutSomeEntryPoints) {
  // A module that exports none of them: every entry point stays null, and the port
  // fails as without a library.
  HMODULE kernel = LoadLibraryW(L"kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  auto library = std::make_unique<Win32ServiceLibrary>(kernel);
  const ServiceEntryPoints& e = library->Entries();
  EXPECT_FALSE(e.Open || e.Close || e.Lock || e.Unlock || e.SendReceive || e.Ioctl || e.RegisterCallback ||
               e.UnRegisterCallback);
  TQXPH port(KindPortService, std::move(library));
  PortSettings s;
  s.SyncMode = 1;
  EXPECT_EQ(port.Configure(&s), 0);
  EXPECT_EQ(port.Open(), 0);
  EXPECT_EQ(port.Close(), 0);
}

TEST(ServiceLoader, TheProgramsKindFiveFindsTheLibraryBesideIt) {
  auto port = CreateStandardPort(KindPortService);
  auto* service = dynamic_cast<TQXPH*>(port.get());
  ASSERT_NE(service, nullptr);
  EXPECT_TRUE(service->LibraryLoaded());
  EXPECT_EQ(service->Kind, KindPortService);
}

}  // namespace
}  // namespace qx
