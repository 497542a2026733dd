#include "cli/job_runner.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace qx::cli {

std::vector<bool> RunJobs(const std::vector<std::string>& keys, int jobs, const std::function<void(std::size_t)>& job,
                          const std::atomic<bool>& stop) {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<bool> started(keys.size(), false);
  std::set<std::string> busy;
  std::size_t left = keys.size();

  auto work = [&] {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      if (stop || left == 0) return;
      std::size_t next = keys.size();
      for (std::size_t i = 0; i < keys.size() && next == keys.size(); ++i) {
        if (!started[i] && busy.count(keys[i]) == 0) next = i;
      }
      if (next == keys.size()) {
        // Every waiting one's device is busy: one ending frees it (and wakes us).
        changed.wait(lock);
        continue;
      }
      started[next] = true;
      --left;
      busy.insert(keys[next]);
      lock.unlock();
      job(next);
      lock.lock();
      busy.erase(keys[next]);
      changed.notify_all();
    }
  };

  const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)), keys.size());
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < count; ++i) threads.emplace_back(work);
  for (std::thread& thread : threads) thread.join();
  return started;
}

}  // namespace qx::cli
