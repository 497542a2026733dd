#pragma once

#ifdef _WIN32
#include <windows.h>

#include <memory>
#include <string>

#include "port/service/service_library.h"
#include "port/service/service_rules.h"

namespace qx {

// What loading the client library needs from the system, as a seam: the program binds
// it to LoadLibraryW and the registry, tests to a fake that records the paths tried.
class ModuleLoader {
 public:
  virtual ~ModuleLoader() = default;
  // LoadLibraryW; null when the module cannot be loaded.
  virtual HMODULE Load(const std::wstring& path) = 0;
  // HKEY_LOCAL_MACHINE "Software\Microsoft\Windows\CurrentVersion" "ProgramFilesDir".
  virtual ProgramFilesLookup ProgramFilesDir() = 0;
};

ModuleLoader& SystemModuleLoader();

// The client library in one loaded module. Takes ownership of the module: the entry
// points are fetched by their ANSI names, and the module is freed with the object.
class Win32ServiceLibrary final : public ServiceLibrary {
 public:
  explicit Win32ServiceLibrary(HMODULE module);
  ~Win32ServiceLibrary() override;

  const ServiceEntryPoints& Entries() const override { return entries_; }
  HMODULE Module() const { return module_; }

 private:
  HMODULE module_;
  ServiceEntryPoints entries_;
};

// "ZemakPH.dll" by the normal DLL search, else "ZTovel.dll" under the Program Files
// folder (FallbackLibraryPath); null when neither loads.
std::unique_ptr<ServiceLibrary> LoadServiceLibrary(ModuleLoader& loader = SystemModuleLoader());

// Takes the current folder out of the DLL search for the rest of the process. The
// programs run as an administrator: a "ZemakPH.dll" in whatever folder they were
// started from must not be loaded. The application and system folders (and PATH) are
// still searched. Called first thing by each program.
void KeepCurrentFolderOutOfLibrarySearch();

}  // namespace qx
#endif
