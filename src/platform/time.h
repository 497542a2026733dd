#pragma once

#include <cstdint>

namespace qx {

// Milliseconds on a steady clock with an arbitrary origin; only differences mean anything.
std::int64_t SteadyMilliseconds();

// Blocks the calling thread for about `ms` milliseconds (0 yields).
void SleepMilliseconds(int ms);

}  // namespace qx
