#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/clock.h"

namespace qx {

class TQXCCC;
class TQueuedPort;

// Worker-thread base. A worker is created parked and runs Execute after its first
// Resume. Suspension is cooperative: the worker parks only at its own check points
// (Park, HonourSuspend), never while it holds a lock, and a Resume given before the
// worker reaches a park is remembered, so a wake-up between an emptiness check and
// the park is never lost.
//
// The owner stops a worker with RequestStop, Resume and WaitFor and releases it only
// after WaitFor has returned; a worker never frees itself.
class TCommThread {
 public:
  explicit TCommThread(TQXCCC& owner) : Owner(owner) {}
  TCommThread(const TCommThread&) = delete;
  TCommThread& operator=(const TCommThread&) = delete;
  virtual ~TCommThread();

  // Creates the thread, parked (Suspended = 1). A thread that cannot be created
  // leaves a record without a thread: Resume and WaitFor then do nothing.
  void Start();
  // Asks the worker to park at its next check point.
  void Suspend();
  // Wakes a parked worker, or lets the next park pass at once.
  void Resume();
  // Sets StopRequested; a parked worker wakes and sees it.
  void RequestStop();
  // Blocks until the thread has ended. Never call it from the worker itself.
  void WaitFor();
  // Waits for the thread to end for at most `limitMs` on `clock`, polling 1 ms apart.
  // True when it ended (joined). False when it is still held in a call that never
  // returns: it is then cut off from its owner (WithOwner does nothing from here on),
  // and the owner must hand the record to AbandonWorker instead of freeing it.
  bool WaitFor(Clock& clock, int limitMs);
  // True while the worker waits in one of its parks (for diagnostics and tests).
  bool Parked() const { return parked_.load(); }

  TQXCCC& Owner;
  std::atomic<int> StopRequested{0};
  std::atomic<int> Suspended{0};
  std::atomic<int> Finished{0};
  // Set (through the port's ClearOutput) to make a send worker drop its block.
  std::atomic<int> AbandonBlock{0};
  int ExitCode = 0;

 protected:
  virtual void Execute() = 0;

  bool Stopping() const { return StopRequested.load() != 0; }
  // Runs `touch` (which may use the owner) unless the worker has been cut off from
  // its owner; false when it was. A worker that may be given up at a stop reaches its
  // owner only through this.
  template <class Touch>
  bool WithOwner(Touch touch) {
    std::lock_guard lock(ownerLock_);
    if (cutOff_) return false;
    touch();
    return true;
  }
  // Parks until Resume or a stop request; false when a stop was requested.
  bool Park();
  // Parks while an outside Suspend is in force; false when a stop was requested.
  bool HonourSuspend();

 private:
  void Body();
  bool WaitForWake(std::unique_lock<std::mutex>& lock);

  std::mutex parkLock_;
  std::condition_variable parkSignal_;
  bool wakePending_ = false;
  std::atomic<bool> parked_{false};
  std::mutex ownerLock_;
  bool cutOff_ = false;
  std::thread thread_;
};

// Keeps a worker that WaitFor(clock, limit) gave up on until its thread ends (it may
// still come back from the call that held it, and then needs its record); ended ones
// are joined and freed by the next call of this or of AbandonedWorkersRunning.
void AbandonWorker(std::unique_ptr<TCommThread> worker);
// Workers given up so far in this process, and how many of them have not yet ended.
int AbandonedWorkers();
int AbandonedWorkersRunning();

// The pacing of a device write that fails at once (a device that has gone fails every
// write until Close): a 1 ms pause after each failure, so that the worker does not
// spin, and only the first failure of each run is reported.
class FailureRun {
 public:
  explicit FailureRun(Clock& clock = SystemClock()) : clock_(clock) {}
  // After a failure: pauses, and is true for the first failure of a run.
  bool Failed() {
    clock_.SleepMilliseconds(1);
    return !std::exchange(failing_, true);
  }
  void Succeeded() { failing_ = false; }

 private:
  Clock& clock_;
  bool failing_ = false;
};

// The send-worker loop that every queued kind shares: it takes one block at a time
// from the owner's send queue into its own staging buffer (under the send lock) and
// hands it to the device piece by piece through the kind's write step, without the
// lock. It reaches the port only through WithOwner, so that a stop may give it up.
class TSendThread : public TCommThread {
 public:
  explicit TSendThread(TQueuedPort& owner);

 protected:
  // The kind's write step: hands `length` bytes to the device and sets `taken` to the
  // bytes the device took (0 on failure). Returns false when the worker must end now.
  virtual bool WritePiece(const char* data, int length, int& taken) = 0;
  // Whether a piece that did not go out whole is tried again only after 1 ms.
  virtual bool PauseAfterShortPiece() const { return true; }

  void Execute() final;

  TQueuedPort& Port;

 private:
  // Waits until the send queue holds a chunk; false when a stop was requested.
  bool WaitForData();

  // Holds the largest output block; outlives the port when the worker is given up.
  std::unique_ptr<char[]> staging_;
};

// The receive-worker loop of the kinds that read into a receive queue: read one
// block through the kind's read step, append what came (tag 0) under the receive
// lock and report it, or pause 1 ms when nothing came.
class TRecvThread : public TCommThread {
 public:
  explicit TRecvThread(TQueuedPort& owner);

 protected:
  // The kind's read step: reads up to `capacity` bytes into `buffer` and sets `got`.
  // Returns false when the worker must end now.
  virtual bool ReadBlock(char* buffer, int capacity, int& got) = 0;

  void Execute() final;

  TQueuedPort& Port;

 private:
  std::unique_ptr<char[]> buffer_;
};

}  // namespace qx
