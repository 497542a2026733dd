#include "platform/time.h"

#include <chrono>
#include <thread>

#include "platform/clock.h"

#ifdef _WIN32
#include <windows.h>
#include <timeapi.h>
#endif

namespace qx {

std::int64_t SteadyMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SleepMilliseconds(int ms) {
  if (ms <= 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void FineTimerResolution::Raise() {
  if (raised_) return;
#ifdef _WIN32
  raised_ = timeBeginPeriod(1) == TIMERR_NOERROR;
#else
  raised_ = true;
#endif
}

void FineTimerResolution::Lower() {
  if (!raised_) return;
#ifdef _WIN32
  timeEndPeriod(1);
#endif
  raised_ = false;
}

namespace {

class SteadyClock final : public Clock {
 public:
  std::int64_t NowMilliseconds() const override { return SteadyMilliseconds(); }
  void SleepMilliseconds(int ms) override { qx::SleepMilliseconds(ms); }
};

}  // namespace

Clock& SystemClock() {
  // Stateless, so one shared instance is no mutable global state.
  static SteadyClock clock;
  return clock;
}

}  // namespace qx
