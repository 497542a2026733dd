#pragma once

#include "platform/time.h"
#include "sim/engine/clock.h"

namespace qx::sim {

// The steady clock of the machine, counted from the clock's construction (so log times
// read as time since the simulator started), for the transports and the qxsim program.
class RealClock final : public Clock {
 public:
  std::int64_t NowMilliseconds() const override { return SteadyMilliseconds() - origin_; }
  void SleepMilliseconds(int ms) override { qx::SleepMilliseconds(ms); }

 private:
  std::int64_t origin_ = SteadyMilliseconds();
};

}  // namespace qx::sim
