#pragma once

#include <cstdint>

namespace qx {

// The one source of time and of waiting for code that must run on a fake clock in
// tests: the port kinds, the exchanges, the service waits and the simulators. Code
// that only needs real time may call SteadyMilliseconds/SleepMilliseconds directly.
class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary origin; only differences mean anything. Safe to
  // call from any thread.
  virtual std::int64_t NowMilliseconds() const = 0;
  // Waits about `ms` milliseconds (0 or less only yields). A fake clock moves instead.
  virtual void SleepMilliseconds(int ms) = 0;
};

// The machine's steady clock with real sleeps; lives for the whole process.
Clock& SystemClock();

}  // namespace qx
