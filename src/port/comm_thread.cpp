#include "port/comm_thread.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "platform/time.h"
#include "port/queued_port.h"

namespace qx {

TCommThread::~TCommThread() {
  // Last resort only: owners stop and join their workers before releasing them.
  if (thread_.joinable()) {
    RequestStop();
    Resume();
    thread_.join();
  }
}

void TCommThread::Start() {
  StopRequested = 0;
  Finished = 0;
  AbandonBlock = 0;
  ExitCode = 0;
  Suspended = 1;
  {
    std::lock_guard lock(parkLock_);
    wakePending_ = false;
  }
  try {
    thread_ = std::thread([this] { Body(); });
  } catch (const std::system_error&) {
    // As with a failed CreateThread: the record stays, without a thread.
  }
}

void TCommThread::Body() {
  if (Park()) Execute();
  Finished = 1;
  StopRequested = 1;
}

void TCommThread::Suspend() {
  std::lock_guard lock(parkLock_);
  Suspended = 1;
  wakePending_ = false;
}

void TCommThread::Resume() {
  {
    std::lock_guard lock(parkLock_);
    wakePending_ = true;
    Suspended = 0;
  }
  parkSignal_.notify_all();
}

void TCommThread::RequestStop() {
  {
    std::lock_guard lock(parkLock_);
    StopRequested = 1;
  }
  parkSignal_.notify_all();
}

void TCommThread::WaitFor() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool TCommThread::WaitFor(Clock& clock, int limitMs) {
  const std::int64_t start = clock.NowMilliseconds();
  while (Finished.load() == 0 && thread_.joinable()) {
    // Modulo 2^32, so that a clock of 32-bit ticks may wrap.
    if (static_cast<std::uint32_t>(clock.NowMilliseconds() - start) >= static_cast<std::uint32_t>(limitMs)) {
      std::lock_guard lock(ownerLock_);
      // It may have ended while the lock was awaited.
      if (Finished.load() != 0) break;
      cutOff_ = true;
      return false;
    }
    clock.SleepMilliseconds(1);
  }
  WaitFor();
  return true;
}

namespace {

// Workers whose thread a stop gave up on. A record is freed only once its thread has
// ended and been joined; the list itself is never destroyed (a thread may come back
// from the driver at any time, even during exit).
struct AbandonedThreads {
  std::mutex Lock;
  std::vector<std::unique_ptr<TCommThread>> Workers;
  int Total = 0;

  // Joins and frees the workers that have ended since. Needs Lock.
  void Reap() {
    std::erase_if(Workers, [](std::unique_ptr<TCommThread>& w) {
      if (w->Finished.load() == 0) return false;
      w->WaitFor();
      return true;
    });
  }
};

AbandonedThreads& AbandonedThreadList() {
  static auto* list = new AbandonedThreads;
  return *list;
}

}  // namespace

void AbandonWorker(std::unique_ptr<TCommThread> worker) {
  AbandonedThreads& list = AbandonedThreadList();
  std::lock_guard lock(list.Lock);
  list.Reap();
  list.Workers.push_back(std::move(worker));
  ++list.Total;
}

int AbandonedWorkers() {
  AbandonedThreads& list = AbandonedThreadList();
  std::lock_guard lock(list.Lock);
  return list.Total;
}

int AbandonedWorkersRunning() {
  AbandonedThreads& list = AbandonedThreadList();
  std::lock_guard lock(list.Lock);
  list.Reap();
  return static_cast<int>(list.Workers.size());
}

bool TCommThread::WaitForWake(std::unique_lock<std::mutex>& lock) {
  Suspended = 1;
  parked_ = true;
  parkSignal_.wait(lock, [this] { return wakePending_ || Stopping(); });
  parked_ = false;
  wakePending_ = false;
  Suspended = 0;
  return !Stopping();
}

bool TCommThread::Park() {
  std::unique_lock lock(parkLock_);
  return WaitForWake(lock);
}

bool TCommThread::HonourSuspend() {
  std::unique_lock lock(parkLock_);
  if (Suspended == 0) return !Stopping();
  return WaitForWake(lock);
}

TSendThread::TSendThread(TQueuedPort& owner)
    : TCommThread(owner), Port(owner), staging_(std::make_unique<char[]>(MaxOutputBlockSize)) {}

bool TSendThread::WaitForData() {
  for (;;) {
    int chunks = 0;
    if (!WithOwner([&] {
          std::lock_guard lock(Port.Send.Lock);
          chunks = Port.Send.Queue.ChunkCount();
        })) {
      return false;
    }
    if (chunks != 0) return !Stopping();
    if (Stopping()) return false;
    if (!Park()) return false;
  }
}

void TSendThread::Execute() {
  // A worker that may be given up at a stop reaches its port only through WithOwner,
  // and hands the device only its own staging buffer.
  char* const staging = staging_.get();
  for (;;) {
    if (!HonourSuspend()) return;
    if (!WaitForData()) return;

    int block = 0;
    int got = 0;
    if (!WithOwner([&] {
          std::lock_guard lock(Port.Send.Lock);
          block = std::clamp(Port.GetOutputBlockSize(), 1, MaxOutputBlockSize);
          got = Port.Send.Queue.Take(staging, block);
          // An abandon request belongs to the block that was in progress when it was
          // made; a stale one must not drop data queued after it.
          AbandonBlock = 0;
        })) {
      return;
    }
    if (got == 0) continue;

    int done = 0;
    while (done != got) {
      if (AbandonBlock != 0) break;
      if (!HonourSuspend()) return;
      // A ClearOutput may have come while parked.
      if (AbandonBlock != 0) break;
      const int piece = std::min(got - done, block);
      int taken = 0;
      if (!WritePiece(staging + done, piece, taken)) return;
      taken = std::clamp(taken, 0, piece);
      done += taken;
      if (!WithOwner([&] { Owner.NotifyWriteProgress(0, done, taken == piece ? 1 : 0); })) return;
      if (taken != piece) {
        if (Stopping()) return;
        if (PauseAfterShortPiece()) SleepMilliseconds(1);
        if (Stopping()) return;
      }
    }

    if (!WithOwner([&] {
          std::lock_guard lock(Port.Send.Lock);
          Port.Send.Queue.ResetLastTaken();
          AbandonBlock = 0;
        })) {
      return;
    }
  }
}

TRecvThread::TRecvThread(TQueuedPort& owner)
    : TCommThread(owner), Port(owner), buffer_(std::make_unique<char[]>(MaxInputBlockSize)) {}

void TRecvThread::Execute() {
  while (!Stopping()) {
    if (!HonourSuspend()) return;
    int block = 0;
    if (!WithOwner([&] {
          std::lock_guard lock(Port.Receive.Lock);
          block = std::clamp(Port.GetInputBlockSize(), 1, MaxInputBlockSize);
        })) {
      return;
    }
    int got = 0;
    if (!ReadBlock(buffer_.get(), block, got)) return;
    if (got > 0) {
      // A read that comes back after Close gave up on this worker finds no port.
      if (!WithOwner([&] {
            {
              std::lock_guard lock(Port.Receive.Lock);
              Port.Receive.Queue.Append(0, buffer_.get(), std::min(got, block));
            }
            Owner.NotifyDataArrived();
          })) {
        return;
      }
    } else {
      SleepMilliseconds(1);
    }
  }
}

}  // namespace qx
