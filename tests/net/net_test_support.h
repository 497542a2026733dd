#pragma once

// Shortened waits for the network kind: a reply wait of 3000 ms really lasts
// ReplyRealMs, and the mandated pauses are recorded and cut short.

#include <algorithm>
#include <atomic>

#include "platform/time.h"
#include "port/net/net_status_channel.h"

namespace qx::test {

class ShortNetTiming : public NetTiming {
 public:
#ifdef _WIN32
  static constexpr int ReplyRealMs = 1000;  // Wine's loopback is slower to start
#else
  static constexpr int ReplyRealMs = 400;
#endif
  std::atomic<int> LastReplyWaitAsked{0};
  std::atomic<long long> SleptMs{0};

  void Sleep(int ms) override {
    SleptMs += ms;
    SleepMilliseconds(std::min(ms, 2));
  }
  int ReplyWaitMs(int ms) override {
    LastReplyWaitAsked = ms;
    return std::min(ms, ReplyRealMs);
  }
};

}  // namespace qx::test
