#pragma once

#include <chrono>

#include "platform/time.h"

namespace qx::test {

// Polls `condition` until it holds or `limit` passes; tests use it instead of sleeps.
template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    SleepMilliseconds(1);
  }
  return true;
}

}  // namespace qx::test
