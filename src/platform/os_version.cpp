#include "platform/os_version.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace qx {

#ifdef _WIN32
namespace {
bool ReadVersion(OSVERSIONINFOA& info) {
  info = {};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return GetVersionExA(&info) != 0;
#pragma GCC diagnostic pop
}
}  // namespace

int IsNtFamily() {
  OSVERSIONINFOA info;
  if (!ReadVersion(info)) return 0;
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion >= 4 ? 1 : 0;
}

int IsNtPlatform() {
  OSVERSIONINFOA info;
  return ReadVersion(info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
}

int WindowsMajorVersion() {
  OSVERSIONINFOA info;
  return ReadVersion(info) ? static_cast<int>(info.dwMajorVersion) : 0;
}
#else
// Off Windows there is no NT platform; the device-name remapping never applies.
int IsNtFamily() { return 0; }
int IsNtPlatform() { return 0; }
int WindowsMajorVersion() { return 0; }
#endif

}  // namespace qx
