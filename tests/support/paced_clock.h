#pragma once

// A fake clock for code that waits on real sockets and threads. While it runs it moves
// by itself, `speed` milliseconds for each real one, so that a 3000 ms reply wait lasts
// 3000 / speed real milliseconds. A sleep takes its share of real time, so that bytes
// have time to cross, but never more than `maxRealSleepMs`: the rest passes at once.
// Stopped, the clock moves only when slept on (as sim::FakeClock does), for devices
// simulated in-process.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/clock.h"
#include "platform/time.h"

namespace qx::test {

class PacedClock final : public Clock {
 public:
  explicit PacedClock(int speed = 1, bool running = true, int maxRealSleepMs = 20)
      : speed_(std::max(speed, 1)), maxRealSleepUs_(1000LL * maxRealSleepMs), running_(running),
        since_(SteadyMilliseconds()) {}

  std::int64_t NowMilliseconds() const override {
    std::lock_guard lock(lock_);
    return NowLocked();
  }

  void SleepMilliseconds(int ms) override {
    if (ms <= 0) {
      std::this_thread::yield();
      return;
    }
    SleptMs += ms;
    std::int64_t realUs = 0;
    {
      std::lock_guard lock(lock_);
      if (running_) realUs = std::min<std::int64_t>(1000LL * ms / speed_, maxRealSleepUs_);
      base_ += ms - realUs * speed_ / 1000;
    }
    if (realUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(realUs));
  }

  void SetRunning(bool running) {
    std::lock_guard lock(lock_);
    base_ = NowLocked();
    since_ = SteadyMilliseconds();
    running_ = running;
  }
  void Advance(std::int64_t ms) {
    std::lock_guard lock(lock_);
    base_ += ms;
  }

  // Every sleep asked for, in clock milliseconds.
  std::atomic<long long> SleptMs{0};

 private:
  std::int64_t NowLocked() const { return base_ + (running_ ? (SteadyMilliseconds() - since_) * speed_ : 0); }

  const int speed_;
  const std::int64_t maxRealSleepUs_;
  mutable std::mutex lock_;
  bool running_;
  std::int64_t since_;
  std::int64_t base_ = 0;
};

}  // namespace qx::test
