#pragma once

// The simulator's only source of time. The engine never reads a clock of its own, so a
// test with a FakeClock can run a 60 s restart or slow per-byte replies in no real time;
// the transports and the qxsim program hand it a real one (sim/transport/real_clock.h).

#include <atomic>
#include <cstdint>

namespace qx::sim {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary origin; only differences mean anything. Must be
  // safe to call from any thread.
  virtual std::int64_t NowMilliseconds() const = 0;
};

// A clock that only moves when told to.
class FakeClock final : public Clock {
 public:
  explicit FakeClock(std::int64_t start = 0) : now_(start) {}
  std::int64_t NowMilliseconds() const override { return now_.load(); }
  void Advance(std::int64_t ms) { now_ += ms; }
  void Set(std::int64_t ms) { now_ = ms; }

 private:
  std::atomic<std::int64_t> now_;
};

}  // namespace qx::sim
