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

// The queue and worker machinery that the queued kinds share: a send queue drained by
// a send worker through a staging buffer, a receive queue filled by a receive worker,
// the block sizes, and the operations of the port interface that only touch these.
// A kind overrides what it does differently (the serial kind reads from the device,
// not from a queue).
class TQueuedPort : public TQXCCC {
 public:
  TQueuedPort(int portId, int kind, int outputBlockSize, int inputBlockSize);

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

  PortQueue Send;
  PortQueue Receive;
  // Used only by the send worker; holds the largest output block.
  char* StagingBuffer() { return staging_.get(); }

 protected:
  // The first check of each kind's Write and Read: a closed port, no buffer or an
  // empty request moves nothing; the count (when asked for) is then 0.
  bool RefuseTransfer(const void* data, int length, int* count);
  // Asynchronous Write once the kind has checked that it is open and length > 0:
  // all or nothing into the send queue, then wake the send worker.
  int QueueWrite(int tag, const char* data, int length, int* written);
  // Asynchronous Read: whatever the receive queue holds, up to length; never waits.
  int TakeInput(void* buffer, int length, int* got);

  // Sets the send cap and starts each given worker (created parked, then resumed).
  void StartWorkers(std::unique_ptr<TSendThread> send, std::unique_ptr<TCommThread> receive);
  // The stop sequence: receive worker first (woken by WakeReceiveWorker), then the
  // send worker; both are joined before their records go, and only then are both
  // queues emptied.
  void StopWorkers();
  // How the stop sequence wakes the receive worker; the default resumes it.
  virtual void WakeReceiveWorker();

  std::unique_ptr<TSendThread> SendWorker;
  std::unique_ptr<TCommThread> RecvWorker;

 private:
  int outputBlockSize_;
  int inputBlockSize_;
  std::unique_ptr<char[]> staging_;
};

}  // namespace qx
