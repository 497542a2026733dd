#pragma once

// A host on the real clock for exchanges over real devices and sockets: the short polls
// take real time, so bytes have time to cross; the long waits of Set (the restart wait
// and the reopen pauses) pass at once and are only counted.

#include <string>

#include "support/fake_host.h"
#include "platform/time.h"

namespace qx::test {

class RealTimeHost : public FakeHost {
 public:
  std::int64_t ElapsedMilliseconds() override { return SteadyMilliseconds() - origin_ + skipped_; }
  void Sleep(int ms) override {
    if (ms <= 10) {
      SleepMilliseconds(ms);
    } else {
      skipped_ += ms;
      events.push_back("sleep " + std::to_string(ms));
    }
  }
  void ProcessMessages() override { skipped_ += 99; }

 private:
  std::int64_t origin_ = SteadyMilliseconds();
  std::int64_t skipped_ = 0;
};

}  // namespace qx::test
