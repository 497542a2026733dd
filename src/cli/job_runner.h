#pragma once

// Runs a fleet's exchanges side by side: up to N at once, in list order, never two
// with the same device key at once (a later one waits while its device is busy and
// others go ahead). Once told to stop, no further exchange starts; running ones end.

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace qx::cli {

// Calls `job(i)` for each key's index on up to `jobs` threads of its own and returns,
// per index, whether it ran. `job` must not throw. `stop` is read before each start.
std::vector<bool> RunJobs(const std::vector<std::string>& keys, int jobs, const std::function<void(std::size_t)>& job,
                          const std::atomic<bool>& stop);

}  // namespace qx::cli
