// The shared send and receive loops and the cooperative worker parking, driven
// through a real port kind over an in-memory device.

#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "support/memory_port.h"

namespace qx {
namespace {

using test::MemoryDevice;
using test::TMemoryPort;
using test::WaitUntil;

struct Progress {
  std::mutex lock;
  std::vector<std::pair<int, int>> calls;  // (bytesDone, complete)

  void Install(TMemoryPort& port) {
    port.Hooks.OnWriteProgress = [this](int, int tag, int done, int complete) {
      EXPECT_EQ(tag, 0);  // queued tags are never reported
      std::lock_guard guard(lock);
      calls.emplace_back(done, complete);
      return 1;
    };
  }
  std::vector<std::pair<int, int>> Calls() {
    std::lock_guard guard(lock);
    return calls;
  }
};

std::string Pattern(int n, int seed = 0) {
  std::string s;
  for (int i = 0; i < n; ++i) s.push_back(static_cast<char>((i * 7 + seed) & 0xFF));
  return s;
}

// A memory port over its device, not yet open.
class PortWorkers : public ::testing::Test {
 protected:
  Progress progress;  // outlives the port: its worker calls the hook
  MemoryDevice device;
  TMemoryPort port{0, device};

  // Opens the port and queues `block`, whose first device write is held.
  void OpenWithHeldWrite(const std::string& block) {
    ASSERT_EQ(port.Open(), 1);
    device.Hold = true;
    ASSERT_EQ(port.Write(0, block.data(), static_cast<int>(block.size()), nullptr), 1);
    ASSERT_TRUE(WaitUntil([&] { return device.WritesStarted == 1; }));
  }
};
using SendWorker = PortWorkers;
using ReceiveWorker = PortWorkers;
using Ports = PortWorkers;

TEST_F(SendWorker, SendsThreeThousandBytesInBlocksOfTheBlockSize) {
  progress.Install(port);
  ASSERT_EQ(port.Open(), 1);
  const std::string data = Pattern(3000);
  int written = 0;
  ASSERT_EQ(port.Write(9, data.data(), 3000, &written), 1);
  EXPECT_EQ(written, 3000);
  ASSERT_TRUE(WaitUntil([&] { return port.GetOutputPending() == 0 && device.Written().size() == 3000; }));
  EXPECT_TRUE(device.Written() == data);
  EXPECT_EQ(device.WriteCalls(), (std::vector<int>{1024, 1024, 952}));
  EXPECT_EQ(progress.Calls(), (std::vector<std::pair<int, int>>{{1024, 1}, {1024, 1}, {952, 1}}));
  port.Close();
}

TEST_F(SendWorker, ShortPiecesAreRetriedUntilTheBlockIsOut) {
  device.MaxPerWrite = 300;
  progress.Install(port);
  ASSERT_EQ(port.Open(), 1);
  const std::string data = Pattern(1000);
  ASSERT_EQ(port.Write(0, data.data(), 1000, nullptr), 1);
  // The block is done, its last progress reported, once nothing is pending.
  ASSERT_TRUE(WaitUntil([&] { return device.Written().size() == 1000 && port.GetOutputPending() == 0; }));
  EXPECT_TRUE(device.Written() == data);
  EXPECT_EQ(device.WriteCalls(), (std::vector<int>{300, 300, 300, 100}));
  EXPECT_EQ(progress.Calls(), (std::vector<std::pair<int, int>>{{300, 0}, {600, 0}, {900, 0}, {1000, 1}}));
}

TEST_F(SendWorker, ClearOutputAbandonsTheBlockAfterThePieceInProgress) {
  device.MaxPerWrite = 1000;
  ASSERT_EQ(port.SetOutputBlockSize(4096), 1);
  const std::string block = Pattern(4096);
  OpenWithHeldWrite(block);
  EXPECT_EQ(port.GetOutputPending(), 4096);  // the block in progress still counts

  port.ClearOutput();
  device.Hold = false;
  ASSERT_TRUE(WaitUntil([&] { return port.GetOutputPending() == 0; }));
  ASSERT_TRUE(WaitUntil([&] { return device.Written().size() == 1000; }));

  // Later writes go out normally and whole.
  ASSERT_EQ(port.Write(0, "after", 5, nullptr), 1);
  ASSERT_TRUE(WaitUntil([&] { return device.Written().size() == 1005; }));
  EXPECT_TRUE(device.Written() == block.substr(0, 1000) + "after");
}

TEST_F(SendWorker, AnAbandonedBlockStaysAbandonedAfterAPark) {
  device.MaxPerWrite = 100;
  const std::string old = Pattern(1000);
  OpenWithHeldWrite(old);
  port.SuspendOutput();
  device.Hold = false;
  // Parked between two pieces of the old block.
  ASSERT_TRUE(WaitUntil([&] { return device.Written().size() == 100 && port.SendWorkerParked(); }));
  port.ClearOutput();
  ASSERT_EQ(port.Write(0, "new", 3, nullptr), 1);  // resumes the worker
  ASSERT_TRUE(WaitUntil([&] { return port.GetOutputPending() == 0 && device.Written().size() >= 103; }));
  EXPECT_TRUE(device.Written() == old.substr(0, 100) + "new");
}

TEST_F(SendWorker, ClearOrSuspendWhileIdleDoesNotDropTheNextWrite) {
  ASSERT_EQ(port.Open(), 1);
  port.ClearOutput();  // nothing in progress
  ASSERT_EQ(port.Write(0, "kept", 4, nullptr), 1);
  ASSERT_TRUE(WaitUntil([&] { return device.Written() == "kept"; }));
  port.SuspendOutput();  // the next write resumes the worker
  ASSERT_EQ(port.Write(0, "hello", 5, nullptr), 1);
  ASSERT_TRUE(WaitUntil([&] { return device.Written() == "kepthello"; }));
}

// Close returns promptly with the send worker parked on an empty queue, and with it
// held in a device write that does not end.
TEST_F(SendWorker, CloseReturnsPromptlyParkedOrInAStuckWrite) {
  for (const bool stuck : {false, true}) {
    SCOPED_TRACE(stuck ? "stuck" : "parked");
    ASSERT_EQ(port.Open(), 1);
    device.Hold = stuck;
    ASSERT_EQ(port.Write(0, "x", 1, nullptr), 1);
    ASSERT_TRUE(WaitUntil([&] { return stuck ? device.WritesStarted == 2 : port.GetOutputPending() == 0; }));
    auto closed = std::async(std::launch::async, [&] { return port.Close(); });
    ASSERT_EQ(closed.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(closed.get(), 1);
    EXPECT_FALSE(port.HasWorkers());
  }
  EXPECT_EQ(device.Written(), "x");  // the stuck write took nothing
}

TEST_F(SendWorker, SuspendOutputStopsAtTheNextBlockUntilResumed) {
  const std::string data = Pattern(3000);
  OpenWithHeldWrite(data);
  port.SuspendOutput();
  device.Hold = false;
  ASSERT_TRUE(WaitUntil([&] { return device.Written().size() == 1024; }));
  SleepMilliseconds(50);
  EXPECT_EQ(device.Written().size(), 1024u);  // parked at its check point
  EXPECT_EQ(port.GetOutputPending(), 3000 - 1024);
  port.ResumeOutput();
  ASSERT_TRUE(WaitUntil([&] { return device.Written().size() == 3000; }));
  EXPECT_TRUE(device.Written() == data);
}

TEST_F(SendWorker, FullQueueRefusesTheWholeWrite) {
  ASSERT_EQ(port.SetOutputBlockSize(1), 1);
  ASSERT_EQ(port.Open(), 1);
  device.Hold = true;  // keep the worker from draining
  const std::string big = Pattern(5000);
  int written = -1;
  ASSERT_EQ(port.Write(0, big.data(), 5000, &written), 1);  // an empty queue takes it whole
  EXPECT_EQ(written, 5000);
  ASSERT_TRUE(WaitUntil([&] { return device.WritesStarted == 1; }));
  // 4999 bytes still queued, over the cap: the next write is refused whole.
  EXPECT_EQ(port.Write(0, "more", 4, &written), 0);
  EXPECT_EQ(written, 0);
  device.Hold = false;
  ASSERT_TRUE(WaitUntil([&] { return port.GetOutputPending() == 0; }));
  EXPECT_TRUE(device.Written() == big);
}

TEST_F(Ports, BlockSizeRanges) {
  EXPECT_EQ(port.SetOutputBlockSize(65536), 1);
  EXPECT_EQ(port.SetOutputBlockSize(65537), 0);
  EXPECT_EQ(port.SetOutputBlockSize(0), 0);
  EXPECT_EQ(port.SetOutputBlockSize(-5), 0);
  EXPECT_EQ(port.GetOutputBlockSize(), 65536);
  EXPECT_EQ(port.SetInputBlockSize(65540), 1);
  EXPECT_EQ(port.SetInputBlockSize(65541), 0);
  EXPECT_EQ(port.SetInputBlockSize(0), 0);
  EXPECT_EQ(port.GetInputBlockSize(), 65540);
}

TEST_F(Ports, SynchronousModeStartsNoWorkers) {
  PortSettings settings;
  settings.SyncMode = 1;
  port.Configure(&settings);
  ASSERT_EQ(port.Open(), 1);
  EXPECT_FALSE(port.HasWorkers());
  int written = 0;
  EXPECT_EQ(port.Write(0, "sync", 4, &written), 1);
  EXPECT_EQ(device.Written(), "sync");  // at once, no worker
  device.Feed("reply");
  char buffer[8];
  int got = 0;
  EXPECT_EQ(port.Read(buffer, 8, &got), 0);  // fewer than asked
  EXPECT_EQ(got, 5);
  port.Close();
}

TEST_F(ReceiveWorker, ReadTakesWhatArrivedWithoutWaiting) {
  int arrivals = 0;
  port.Hooks.OnDataArrived = [&](int, int available) {
    EXPECT_GT(available, 0);
    ++arrivals;
    return 1;
  };
  ASSERT_EQ(port.Open(), 1);
  device.Feed("abcd");
  ASSERT_TRUE(WaitUntil([&] { return port.GetInputAvailable() == 4; }));
  char buffer[10] = {};
  int got = -1;
  EXPECT_EQ(port.Read(buffer, 10, &got), 0);  // asked for 10, 4 were there
  EXPECT_EQ(got, 4);
  EXPECT_EQ(std::string(buffer, 4), "abcd");
  EXPECT_EQ(port.GetInputAvailable(), 0);
  EXPECT_EQ(port.Read(buffer, 1, &got), 0);
  EXPECT_EQ(got, 0);
  port.Close();
  EXPECT_GE(arrivals, 1);
}

TEST_F(ReceiveWorker, ReadsAtMostTheInputBlockSizeAtATime) {
  ASSERT_EQ(port.SetInputBlockSize(3), 1);
  std::vector<int> sizes;
  std::mutex lock;
  port.Hooks.OnDataArrived = [&](int, int available) {
    std::lock_guard guard(lock);
    sizes.push_back(available);
    return 1;
  };
  device.Feed("1234567");
  ASSERT_EQ(port.Open(), 1);
  ASSERT_TRUE(WaitUntil([&] { return port.GetInputAvailable() == 7; }));
  port.Close();
  std::lock_guard guard(lock);
  EXPECT_EQ(sizes, (std::vector<int>{3, 6, 7}));
}

TEST_F(Ports, BytesThatArriveWhileClosingDoNotSurviveIntoTheNextOpen) {
  device.HoldReads = true;
  device.Feed("late");
  ASSERT_EQ(port.Open(), 1);
  ASSERT_TRUE(WaitUntil([&] { return device.ReadsStarted >= 1; }));
  ASSERT_EQ(port.Close(), 1);  // the held read completes with the bytes during the stop
  device.HoldReads = false;
  ASSERT_EQ(port.Open(), 1);
  EXPECT_EQ(port.GetInputAvailable(), 0);
  port.Close();
}

// Open/close cycles while another thread writes. Every byte that Write accepted and
// that was sent before the close reached the device exactly once and in order: what
// the device got is always a prefix of what was accepted, and when the test lets the
// queue drain before closing, it is all of it.
TEST_F(Ports, OpenCloseCyclesWithConcurrentWrites) {
  device.MaxPerWrite = 700;
  for (int cycle = 0; cycle < 1000; ++cycle) {
    device.ClearWritten();
    ASSERT_EQ(port.Open(), 1);
    const bool drain = cycle % 2 == 0;
    std::string accepted;
    std::thread writer([&] {
      for (int i = 0; i < 20; ++i) {
        const std::string piece = Pattern(100 + (i * 37) % 400, cycle + i);
        int written = 0;
        if (port.Write(0, piece.data(), static_cast<int>(piece.size()), &written) == 1) {
          accepted += piece;
        } else {
          ASSERT_EQ(written, 0);
        }
      }
    });
    writer.join();
    if (drain) {
      ASSERT_TRUE(WaitUntil([&] { return port.GetOutputPending() == 0; }));
    }
    ASSERT_EQ(port.Close(), 1);
    const std::string got = device.Written();
    if (drain) {
      ASSERT_TRUE(got == accepted) << "cycle " << cycle;
    } else {
      ASSERT_LE(got.size(), accepted.size());
      ASSERT_TRUE(got == accepted.substr(0, got.size())) << "cycle " << cycle;
    }
  }
}

TEST(FailureRun, PacesEveryFailureAndReportsOnlyTheFirstOfARun) {
  sim::FakeClock clock;
  FailureRun run(clock);
  std::vector<bool> reported;
  for (int i = 0; i < 3; ++i) reported.push_back(run.Failed());
  run.Succeeded();
  reported.push_back(run.Failed());
  EXPECT_EQ(reported, (std::vector<bool>{true, false, false, true}));
  EXPECT_EQ(clock.NowMilliseconds(), 4);
}

// A Resume given between a worker's check and its park must not be lost.
class CountingWorker final : public TCommThread {
 public:
  explicit CountingWorker(TQXCCC& owner) : TCommThread(owner) {}
  std::atomic<int> Wakes{0};
  std::atomic<bool> Running{false};

 protected:
  void Execute() override {
    Running = true;
    while (Park()) ++Wakes;
  }
};

using CommThread = PortWorkers;

TEST_F(CommThread, NoWakeUpIsLost) {
  CountingWorker worker(port);
  worker.Start();
  EXPECT_EQ(worker.Suspended, 1);
  worker.Resume();  // starts Execute
  ASSERT_TRUE(WaitUntil([&] { return worker.Running.load(); }));
  for (int i = 1; i <= 2000; ++i) {
    worker.Resume();
    // Each Resume lets exactly one park pass, so the count catches up every time.
    ASSERT_TRUE(WaitUntil([&] { return worker.Wakes >= i; })) << "lost wake-up " << i;
  }
  worker.RequestStop();
  worker.Resume();
  worker.WaitFor();
  EXPECT_EQ(worker.Finished, 1);
}

TEST_F(CommThread, ReleasingAWorkerThatNeverRanEndsIt) {
  auto worker = std::make_unique<CountingWorker>(port);
  worker->Start();
  worker->RequestStop();
  worker->Resume();
  worker->WaitFor();
  EXPECT_EQ(worker->Wakes, 0);
  EXPECT_EQ(worker->Finished, 1);
}

}  // namespace
}  // namespace qx
