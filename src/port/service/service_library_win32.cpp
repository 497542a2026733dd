#include "port/service/service_library_win32.h"

namespace qx {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the library's wide text is UTF-16");

namespace {

std::wstring ToWide(const WideText& text) { return std::wstring(text.begin(), text.end()); }

template <class Fn>
void Fetch(HMODULE module, const char* name, Fn& slot) {
  slot = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class SystemLoader final : public ModuleLoader {
 public:
  HMODULE Load(const std::wstring& path) override { return LoadLibraryW(path.c_str()); }

  ProgramFilesLookup ProgramFilesDir() override {
    ProgramFilesLookup lookup;
    HKEY key = nullptr;
    // Reading one value needs no more than query access; asking for all access would
    // fail for an ordinary user and fall back to a guessed folder.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS) {
      return lookup;
    }
    lookup.KeyOpened = true;
    constexpr DWORD bufferBytes = 260;
    wchar_t value[bufferBytes / sizeof(wchar_t) + 1] = {};
    DWORD type = 0;
    DWORD size = bufferBytes;
    if (RegQueryValueExW(key, L"ProgramFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
      // A stored value need not end with its NUL; the extra element always holds one.
      const std::size_t units = size / sizeof(wchar_t);
      value[units < bufferBytes / sizeof(wchar_t) ? units : bufferBytes / sizeof(wchar_t)] = L'\0';
      lookup.ValueRead = true;
      for (const wchar_t* p = value; *p != L'\0'; ++p) lookup.Value.push_back(static_cast<char16_t>(*p));
    }
    RegCloseKey(key);
    return lookup;
  }
};

}  // namespace

ModuleLoader& SystemModuleLoader() {
  static SystemLoader loader;
  return loader;
}

Win32ServiceLibrary::Win32ServiceLibrary(HMODULE module) : module_(module) {
  Fetch(module_, "Open", entries_.Open);
  Fetch(module_, "Close", entries_.Close);
  Fetch(module_, "Lock", entries_.Lock);
  Fetch(module_, "Unlock", entries_.Unlock);
  Fetch(module_, "SendReceive", entries_.SendReceive);
  Fetch(module_, "Ioctl", entries_.Ioctl);
  Fetch(module_, "RegisterCallback", entries_.RegisterCallback);
  Fetch(module_, "UnRegisterCallback", entries_.UnRegisterCallback);
}

Win32ServiceLibrary::~Win32ServiceLibrary() {
  if (module_ != nullptr) FreeLibrary(module_);
}

std::unique_ptr<ServiceLibrary> LoadServiceLibrary(ModuleLoader& loader) {
  HMODULE module = loader.Load(ToWide(ServiceLibraryName));
  if (module == nullptr) module = loader.Load(ToWide(FallbackLibraryPath(loader.ProgramFilesDir())));
  if (module == nullptr) return nullptr;
  return std::make_unique<Win32ServiceLibrary>(module);
}

void KeepCurrentFolderOutOfLibrarySearch() {
  // Any folder set here takes the current folder's place in the search. An empty text
  // would do on Windows, but Wine takes it for none set; the program's own folder,
  // searched first anyway, does on both.
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length < MAX_PATH ? length : 0);
  const std::size_t slash = folder.find_last_of(L"\\/");
  folder = slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash);
  SetDllDirectoryW(folder.c_str());
}

}  // namespace qx
