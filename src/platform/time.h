#pragma once

#include <cstdint>

namespace qx {

// Milliseconds on a steady clock with an arbitrary origin; only differences mean anything.
std::int64_t SteadyMilliseconds();

// Blocks the calling thread for about `ms` milliseconds (0 yields).
void SleepMilliseconds(int ms);

// While raised, the system's timer ticks every millisecond, so that a 1 ms sleep lasts
// about 1 ms on Windows instead of a whole 15.6 ms tick. Raising costs the whole machine
// power, so it is held only while it matters. Does nothing on other systems.
class FineTimerResolution {
 public:
  FineTimerResolution() = default;
  ~FineTimerResolution() { Lower(); }
  FineTimerResolution(const FineTimerResolution&) = delete;
  FineTimerResolution& operator=(const FineTimerResolution&) = delete;

  void Raise();
  void Lower();
  bool Raised() const { return raised_; }

 private:
  bool raised_ = false;
};

}  // namespace qx
