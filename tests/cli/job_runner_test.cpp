// The fleet's scheduler: side by side up to the limit, never two on one device, and
// nothing new once told to stop.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "cli/job_runner.h"

namespace qx::cli {
namespace {

// Counts the jobs running at once, overall and per key.
struct Overlap {
  std::mutex Mutex;
  std::condition_variable Changed;
  int Running = 0;
  int MostRunning = 0;
  std::map<std::string, int> PerKey;
  int MostPerKey = 0;

  void Enter(const std::string& key) {
    std::lock_guard<std::mutex> lock(Mutex);
    MostRunning = std::max(MostRunning, ++Running);
    MostPerKey = std::max(MostPerKey, ++PerKey[key]);
    Changed.notify_all();
  }
  // Holds the job until `count` run at once (bounded, so a fault fails instead of hanging).
  void AwaitRunning(int count) {
    std::unique_lock<std::mutex> lock(Mutex);
    Changed.wait_for(lock, std::chrono::seconds(30), [&] { return MostRunning >= count; });
  }
  void Leave(const std::string& key) {
    std::lock_guard<std::mutex> lock(Mutex);
    --Running;
    --PerKey[key];
  }
};

TEST(RunJobs, SideBySideUpToTheLimitAndOneAtATimePerDevice) {
  struct Case {
    std::vector<std::string> Keys;
    int Jobs;
    int ExpectRunning;  // all of these must be running at once at some moment
  };
  for (const Case& c : std::vector<Case>{{{"a", "b", "c", "d"}, 4, 4},
                                          {{"a", "b", "c", "d", "e", "f"}, 3, 3},
                                          {{"a", "a", "b", "a", "c"}, 8, 3},
                                          {{"x", "x", "x"}, 3, 1}}) {
    Overlap overlap;
    std::atomic<bool> stop{false};
    std::vector<int> runs(c.Keys.size(), 0);
    const std::vector<bool> ran = RunJobs(c.Keys, c.Jobs, [&](std::size_t i) {
      ++runs[i];
      overlap.Enter(c.Keys[i]);
      overlap.AwaitRunning(c.ExpectRunning);
      overlap.Leave(c.Keys[i]);
    }, stop);
    EXPECT_EQ(ran, std::vector<bool>(c.Keys.size(), true));
    EXPECT_EQ(runs, std::vector<int>(c.Keys.size(), 1));
    EXPECT_EQ(overlap.MostRunning, c.ExpectRunning) << c.Jobs;
    EXPECT_EQ(overlap.MostPerKey, 1);
  }
}

TEST(RunJobs, NothingStartsOnceStopped) {
  std::atomic<bool> stop{false};
  const std::vector<std::string> keys = {"a", "b", "c", "d", "e"};
  std::vector<bool> ran = RunJobs(keys, 1, [&](std::size_t i) { stop = i == 1; }, stop);
  EXPECT_EQ(ran, (std::vector<bool>{true, true, false, false, false}));
  ran = RunJobs(keys, 4, [](std::size_t) {}, stop);
  EXPECT_EQ(ran, std::vector<bool>(5, false));
  EXPECT_TRUE(RunJobs({}, 8, [](std::size_t) {}, stop).empty());
}

}  // namespace
}  // namespace qx::cli
