#include "port/queued_port.h"

#include <cstdint>

#include "platform/time.h"

namespace qx {

TQueuedPort::TQueuedPort(int portId, int kind, int outputBlockSize, int inputBlockSize)
    : TQXCCC(portId, kind),
      outputBlockSize_(outputBlockSize),
      inputBlockSize_(inputBlockSize) {}

int TQueuedPort::Open() {
  if (IsOpen()) return 1;
  const bool sync = OpensSynchronously();
  if (!OpenDevice(sync)) return 0;
  openSync_ = sync;
  if (!sync) {
    std::unique_ptr<TSendThread> send;
    std::unique_ptr<TCommThread> receive;
    if (!MakeWorkers(send, receive)) {
      ReleaseDevice();
      return 0;
    }
    StartWorkers(std::move(send), std::move(receive));
  }
  AfterOpen();
  NotifyOpened();
  return 1;
}

int TQueuedPort::Close() {
  if (!IsOpen()) {
    ReleaseDevice();
    return 1;
  }
  try {
    KindClock().SleepMilliseconds(ClosePauseMs);
    ClearOutput();
    BeforeStop();
    StopWorkers();
    ReleaseDevice();
    NotifyClosed();
  } catch (...) {
    return 0;
  }
  return 1;
}

int TQueuedPort::Write(int tag, const char* data, int length, int* written) {
  if (RefuseTransfer(data, length, written)) return 0;
  if (!openSync_) return QueueWrite(tag, data, length, written);
  return WriteDevice(tag, data, length, written);
}

int TQueuedPort::Read(void* buffer, int length, int* got) {
  if (RefuseTransfer(buffer, length, got)) return 0;
  if (!openSync_ && ReadsFromQueue()) return TakeInput(buffer, length, got);
  return ReadDevice(buffer, length, got);
}

int TQueuedPort::SetSyncMode(int sync) { return SyncMode = sync; }

int TQueuedPort::GetOutputPending() {
  std::lock_guard lock(Send.Lock);
  return Send.Queue.QueuedBytes() + Send.Queue.LastTaken();
}

void TQueuedPort::ClearOutput() {
  std::lock_guard lock(Send.Lock);
  Send.Queue.Clear();
  if (SendWorker) SendWorker->AbandonBlock = 1;
}

void TQueuedPort::ResumeOutput() {
  if (SendWorker) SendWorker->Resume();
}

void TQueuedPort::SuspendOutput() {
  if (SendWorker) SendWorker->Suspend();
}

int TQueuedPort::GetOutputBlockSize() { return outputBlockSize_; }

int TQueuedPort::SetOutputBlockSize(int n) {
  if (n < 1 || n > MaxOutputBlockSize) return 0;
  std::lock_guard lock(Send.Lock);
  Send.Queue.SetCap(SendQueueCap);
  outputBlockSize_ = n;
  return 1;
}

int TQueuedPort::GetInputAvailable() {
  std::lock_guard lock(Receive.Lock);
  return Receive.Queue.QueuedBytes();
}

void TQueuedPort::ClearInput() {
  if (IsOpen() != 1) return;
  std::lock_guard lock(Receive.Lock);
  Receive.Queue.Clear();
}

void TQueuedPort::ResumeInput() {
  if (RecvWorker) RecvWorker->Resume();
}

void TQueuedPort::SuspendInput() {
  if (RecvWorker) RecvWorker->Suspend();
}

int TQueuedPort::GetInputBlockSize() { return inputBlockSize_; }

int TQueuedPort::SetInputBlockSize(int n) {
  if (n < 1 || n > MaxInputBlockSize) return 0;
  std::lock_guard lock(Receive.Lock);
  inputBlockSize_ = n;
  return 1;
}

bool TQueuedPort::RefuseTransfer(const void* data, int length, int* count) {
  if (IsOpen() && length > 0 && data != nullptr) return false;
  if (count) *count = 0;
  return true;
}

int TQueuedPort::QueueWrite(int tag, const char* data, int length, int* written) {
  int queued = 0;
  {
    std::lock_guard lock(Send.Lock);
    queued = Send.Queue.Append(tag, data, length);
  }
  ResumeOutput();
  if (written) *written = queued;
  return queued == length ? 1 : 0;
}

int TQueuedPort::TakeInput(void* buffer, int length, int* got) {
  int taken = 0;
  {
    std::lock_guard lock(Receive.Lock);
    taken = Receive.Queue.Take(static_cast<char*>(buffer), length);
  }
  if (got) *got = taken;
  return taken == length ? 1 : 0;
}

void TQueuedPort::StartWorkers(std::unique_ptr<TSendThread> send, std::unique_ptr<TCommThread> receive) {
  {
    std::lock_guard lock(Send.Lock);
    Send.Queue.SetCap(SendQueueCap);
  }
  SendWorker = std::move(send);
  RecvWorker = std::move(receive);
  if (SendWorker) {
    SendWorker->Start();
    SendWorker->Resume();
  }
  if (RecvWorker) {
    RecvWorker->Start();
    RecvWorker->Resume();
  }
}

void TQueuedPort::WakeReceiveWorker() {
  if (RecvWorker) RecvWorker->Resume();
}

void TQueuedPort::StopWorkers() {
  if (RecvWorker) {
    RecvWorker->RequestStop();
    WakeReceiveWorker();
  }
  if (SendWorker) {
    SendWorker->RequestStop();
    SendWorker->Resume();
  }
  // One bound for both: a worker asked to stop that long ago is held in a device call
  // that never returns, and Close must not wait for it.
  Clock& clock = KindClock();
  const std::int64_t start = clock.NowMilliseconds();
  auto join = [&](auto& worker) {
    if (!worker) return;
    if (!WorkersMayBeGivenUp()) return worker->WaitFor();
    // Modulo 2^32, so that a clock of 32-bit ticks may wrap.
    const auto spent = static_cast<std::uint32_t>(clock.NowMilliseconds() - start);
    const int left = spent >= static_cast<std::uint32_t>(WorkerStopLimitMs) ? 0 : WorkerStopLimitMs - static_cast<int>(spent);
    if (!worker->WaitFor(clock, left)) AbandonWorker(std::move(worker));
  };
  join(RecvWorker);
  join(SendWorker);
  RecvWorker.reset();
  SendWorker.reset();
  // Only now: until the joins a worker may still have appended what a read brought.
  {
    std::lock_guard lock(Send.Lock);
    Send.Queue.Clear();
    Send.Queue.ResetLastTaken();
  }
  std::lock_guard lock(Receive.Lock);
  Receive.Queue.Clear();
}

}  // namespace qx
