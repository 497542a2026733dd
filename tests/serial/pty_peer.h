#pragma once

// The far end of a pty pair, opened raw through its COM name: the "printer" that the
// port under test talks to.

#include <windows.h>

#include <string>

#include "platform/time.h"
#include "platform/win32_handle.h"

namespace qx::test {

class PtyPeer {
 public:
  explicit PtyPeer(const std::string& name)
      : handle_(CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {
    if (!handle_.Valid()) return;
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 2000};
    SetCommTimeouts(handle_.Get(), &timeouts);
    Drain();
  }
  bool Valid() const { return handle_.Valid(); }

  bool Send(const std::string& bytes) {
    DWORD n = 0;
    return WriteFile(handle_.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) && n == bytes.size();
  }

  // Reads until `count` bytes came or `limitMs` passed.
  std::string Receive(std::size_t count, int limitMs = 5000) {
    std::string got;
    const auto end = SteadyMilliseconds() + limitMs;
    char buffer[4096];
    while (got.size() < count && SteadyMilliseconds() < end) {
      DWORD n = 0;
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(sizeof buffer, count - got.size()));
      if (ReadFile(handle_.Get(), buffer, want, &n, nullptr) && n > 0) {
        got.append(buffer, n);
      } else {
        SleepMilliseconds(2);
      }
    }
    return got;
  }

  // Whatever the line holds now, without waiting.
  std::string ReceiveNow() {
    char buffer[4096];
    DWORD n = 0;
    if (!ReadFile(handle_.Get(), buffer, sizeof buffer, &n, nullptr)) return {};
    return std::string(buffer, n);
  }

  // Discards whatever earlier tests left in the line.
  void Drain() {
    SleepMilliseconds(20);
    while (!ReceiveNow().empty()) {
    }
  }

 private:
  UniqueHandle handle_;
};

inline std::string Pattern(int n, int seed = 0) {
  std::string s;
  for (int i = 0; i < n; ++i) s.push_back(static_cast<char>((i * 13 + seed) & 0xFF));
  return s;
}

}  // namespace qx::test
