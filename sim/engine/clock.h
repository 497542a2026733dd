#pragma once

// The simulator's only source of time is the program's clock seam. The engine never
// reads a clock of its own, so a test with a FakeClock can run a 60 s restart or slow
// per-byte replies in no real time; the transports and the qxsim program hand it a real
// one (sim/transport/real_clock.h).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/clock.h"

namespace qx::sim {

using Clock = qx::Clock;

// A clock that only moves when told to. A sleep on it moves it by the time asked for,
// so code under test that waits on it runs in no real time.
class FakeClock final : public Clock {
 public:
  // PauseOnSleep: every sleep also pauses a real millisecond, for worker threads that
  // poll on this clock while others must get to run. (A whole millisecond: shorter
  // sleeps return at once under Wine, and a worker told to stop would then seem stuck
  // to a bound counted on this clock.)
  enum SleepMode { Instant, PauseOnSleep };

  explicit FakeClock(std::int64_t start = 0, SleepMode mode = Instant) : now_(start), mode_(mode) {}
  std::int64_t NowMilliseconds() const override { return now_.load(); }
  void SleepMilliseconds(int ms) override {
    if (ms > 0) now_ += ms;
    if (mode_ == PauseOnSleep) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  void Advance(std::int64_t ms) { now_ += ms; }
  void Set(std::int64_t ms) { now_ = ms; }

 private:
  std::atomic<std::int64_t> now_;
  const SleepMode mode_;
};

}  // namespace qx::sim
