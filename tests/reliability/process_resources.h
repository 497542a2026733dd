#pragma once

// What the process holds: open handles (file descriptors natively, the handle count
// under Windows) and resident memory, for the soak tests.

#include <cstddef>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizer runtimes export it (GCC ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#endif

namespace qx::test {

inline long OpenHandleCount() {
#ifdef _WIN32
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return static_cast<long>(count);
  // Wine answers 0: count the handle values that name an object instead.
  long found = 0;
  for (std::uintptr_t value = 4; value < 4 * 65536; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++found;
  }
  return found;
#else
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return -1;
  long count = 0;
  while (readdir(dir)) ++count;
  closedir(dir);
  return count;
#endif
}

inline std::size_t ResidentBytes() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  return K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.WorkingSetSize : 0;
#else
  long pages = 0, resident = 0;
  FILE* statm = std::fopen("/proc/self/statm", "r");
  if (!statm) return 0;
  if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
  std::fclose(statm);
  return static_cast<std::size_t>(resident) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
#endif
}

// Memory in use: the sanitizer allocator's live bytes when there is one (resident
// memory there includes the freed blocks it keeps in quarantine), else the resident
// set. HeapAllowance is the growth a soak may show without a leak.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline std::size_t HeapBytes() { return __sanitizer_get_current_allocated_bytes(); }
inline constexpr std::size_t HeapAllowance = 32 * 1024;
#else
inline std::size_t HeapBytes() { return ResidentBytes(); }
inline constexpr std::size_t HeapAllowance = 1024 * 1024;
#endif

}  // namespace qx::test
