#pragma once

#include <memory>
#include <mutex>

#include "port/comm_thread.h"
#include "port/data_queue.h"
#include "port/qxccc.h"

namespace qx {

// A data queue together with the lock that guards it. No code holds two of these
// locks at once.
struct PortQueue {
  std::mutex Lock;
  DataQueue Queue;
};

// The lifecycle, queue and worker machinery that the queued kinds share: a send queue
// drained by a send worker through a staging buffer, a receive queue filled by a
// receive worker, the block sizes, and the operations of the port interface that only
// touch these. It owns the skeleton of Open (device, then workers in asynchronous
// mode), Close (pause, abandon the block in progress, the kind's pre-close steps, stop
// and join the workers, THEN empty both queues, then release the device) and the
// synchronous/asynchronous dispatch of Write and Read; each kind supplies only its
// steps.
class TQueuedPort : public TQXCCC {
 public:
  TQueuedPort(int portId, int kind, int outputBlockSize, int inputBlockSize);

  int Open() override;
  int Close() override;
  int Write(int tag, const char* data, int length, int* written) override;
  int Read(void* buffer, int length, int* got) override;
  int SetSyncMode(int sync) override;
  int GetOutputPending() override;
  void ClearOutput() override;
  void ResumeOutput() override;
  void SuspendOutput() override;
  // Called by the send worker with the send lock held: must not lock.
  int GetOutputBlockSize() override;
  int SetOutputBlockSize(int n) override;
  int GetInputAvailable() override;
  void ClearInput() override;
  void ResumeInput() override;
  void SuspendInput() override;
  // Called by the receive worker with the receive lock held: must not lock.
  int GetInputBlockSize() override;
  int SetInputBlockSize(int n) override;

  bool HasWorkers() const { return SendWorker != nullptr || RecvWorker != nullptr; }
  // Both workers exist and neither has ended (a worker ends only when stopped).
  bool WorkersRunning() const {
    return SendWorker && RecvWorker && SendWorker->Finished == 0 && RecvWorker->Finished == 0;
  }

  int SyncMode = 0;
  PortQueue Send;
  PortQueue Receive;
  // The pause at the start of Close, on the kind's clock.
  static constexpr int ClosePauseMs = 100;
  // How long Close waits for the workers of a kind that may give them up.
  static constexpr int WorkerStopLimitMs = 2000;

 protected:
  // --- The kind's steps ---
  // Whether this opening runs without workers; the default follows SyncMode.
  virtual bool OpensSynchronously() { return SyncMode != 0; }
  // Opens the device for the given mode; false leaves nothing open.
  virtual bool OpenDevice(bool sync) = 0;
  // Makes the two workers of an asynchronous opening; false when it cannot (the
  // device is then released and Open fails).
  virtual bool MakeWorkers(std::unique_ptr<TSendThread>& send, std::unique_ptr<TCommThread>& receive) = 0;
  // After the workers have started, before NotifyOpened.
  virtual void AfterOpen() {}
  // The kind's clock, for the pause of Close and the bound on a worker's stop.
  virtual Clock& KindClock() { return SystemClock(); }
  // Whether the kind's workers reach the port only through WithOwner and hand the
  // device only their own buffers, so that a stop may give up on a worker whose
  // device call never returns.
  virtual bool WorkersMayBeGivenUp() const { return false; }
  // The kind's pre-close steps, after the pause and before the workers stop.
  virtual void BeforeStop() {}
  // Releases the device; also called by Close on a port that is not open, so that a
  // kind may drop what a failed opening left.
  virtual void ReleaseDevice() = 0;
  // How the stop sequence wakes the receive worker; the default resumes it.
  virtual void WakeReceiveWorker();
  // Synchronous transfers, once the request has passed RefuseTransfer.
  virtual int WriteDevice(int tag, const char* data, int length, int* written) = 0;
  virtual int ReadDevice(void* buffer, int length, int* got) = 0;
  // Whether an asynchronous Read takes from the receive queue (else it reads the device).
  virtual bool ReadsFromQueue() const { return true; }

  // The I/O mode of the current opening (SyncMode may change while open).
  bool OpenedSynchronously() const { return openSync_; }
  // A closed port, no buffer or an empty request moves nothing; the count (when asked
  // for) is then 0.
  bool RefuseTransfer(const void* data, int length, int* count);

  std::unique_ptr<TSendThread> SendWorker;
  std::unique_ptr<TCommThread> RecvWorker;

 private:
  // All or nothing into the send queue, then wake the send worker.
  int QueueWrite(int tag, const char* data, int length, int* written);
  // Whatever the receive queue holds, up to length; never waits.
  int TakeInput(void* buffer, int length, int* got);
  // Sets the send cap and starts each worker (created parked, then resumed).
  void StartWorkers(std::unique_ptr<TSendThread> send, std::unique_ptr<TCommThread> receive);
  // Asks both workers to stop (the receive worker woken by WakeReceiveWorker), then
  // joins them before their records go (or, for a kind that lets them go, gives up
  // on those still running WorkerStopLimitMs after the request), and only then
  // empties both queues.
  void StopWorkers();

  bool openSync_ = true;
  int outputBlockSize_;
  int inputBlockSize_;
};

}  // namespace qx
