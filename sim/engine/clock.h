#pragma once

// The simulator's only source of time is the program's clock seam. The engine never
// reads a clock of its own, so a test with a FakeClock can run a 60 s restart or slow
// per-byte replies in no real time; the transports and the qxsim program hand it a real
// one (sim/transport/real_clock.h).

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace qx::sim {

using Clock = qx::Clock;

// A clock that only moves when told to. A sleep on it moves it by the time asked for,
// so code under test that waits on it runs in no real time.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::int64_t start = 0) : now_(start) {}
  std::int64_t NowMilliseconds() const override { return now_.load(); }
  void SleepMilliseconds(int ms) override {
    if (ms > 0) now_ += ms;
  }
  void Advance(std::int64_t ms) { now_ += ms; }
  void Set(std::int64_t ms) { now_ = ms; }

 private:
  std::atomic<std::int64_t> now_;
};

}  // namespace qx::sim
