#pragma once

// A port kind over an in-memory device, used only by tests and benchmarks, so that the shared queue
// and worker machinery runs for real: the device can take writes in short pieces,
// hold a write in progress (as a stuck device would), and feed bytes to the host.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/time.h"
#include "port/queued_port.h"
#include "sim/engine/clock.h"
#include "support/wait_until.h"

namespace qx::test {

class MemoryDevice {
 public:
  // Bytes the host wrote, in order.
  std::string Written() const {
    std::lock_guard lock(lock_);
    return written_;
  }
  // Sizes of the device writes that took bytes.
  std::vector<int> WriteCalls() const {
    std::lock_guard lock(lock_);
    return writeCalls_;
  }
  void ClearWritten() {
    std::lock_guard lock(lock_);
    written_.clear();
    writeCalls_.clear();
  }
  // Bytes the device has for the host.
  void Feed(const std::string& bytes) {
    std::lock_guard lock(lock_);
    toHost_ += bytes;
  }
  // At most this many bytes per device write (0 = no limit).
  std::atomic<int> MaxPerWrite{0};
  // While set, a device write waits before it takes anything.
  std::atomic<bool> Hold{false};
  // Counts device writes that have started (also held ones).
  std::atomic<int> WritesStarted{0};
  // While set, a device read gives nothing until the port is stopping, then what it
  // has: a read that completes once Close has begun.
  std::atomic<bool> HoldReads{false};
  std::atomic<int> ReadsStarted{0};
  // When set, written bytes are only counted (for throughput figures).
  std::atomic<bool> Discard{false};
  std::atomic<long long> BytesTaken{0};
  // Called with the bytes of every device write (the exchange fuzzer answers from here).
  std::function<void(const std::string& bytes)> OnWrite;

  int Take(const char* data, int length) {
    const int limit = MaxPerWrite.load();
    const int n = limit > 0 && limit < length ? limit : length;
    BytesTaken += n;
    if (Discard) return n;
    {
      std::lock_guard lock(lock_);
      written_.append(data, static_cast<std::size_t>(n));
      writeCalls_.push_back(n);
    }
    if (OnWrite) OnWrite(std::string(data, static_cast<std::size_t>(n)));
    return n;
  }

  int Give(char* buffer, int capacity) {
    std::lock_guard lock(lock_);
    const int n = std::min<int>(capacity, static_cast<int>(toHost_.size()));
    toHost_.copy(buffer, static_cast<std::size_t>(n));
    toHost_.erase(0, static_cast<std::size_t>(n));
    return n;
  }

 private:
  mutable std::mutex lock_;
  std::string written_;
  std::vector<int> writeCalls_;
  std::string toHost_;
};

class TMemoryPort final : public TQueuedPort {
 public:
  TMemoryPort(int portId, MemoryDevice& device) : TQueuedPort(portId, 0, 1024, 1024), device_(device) {}
  ~TMemoryPort() override { Close(); }

  int DeviceRequest() override { return 0; }
  int GetDeviceInfo(void*) override { return 0; }
  int IsOpen() override { return opened_ ? 1 : 0; }
  int IsReady() override { return 1; }
  std::intptr_t GetHandle() override { return 0; }
  int Configure(const PortSettings* settings) override {
    if (!opened_) SetSyncMode(settings->SyncMode);
    return 1;
  }
  int SetHandshakeBypass(int) override { return 0; }

  bool SendWorkerParked() const { return SendWorker && SendWorker->Parked(); }

 private:
  class SendThread final : public TSendThread {
   public:
    explicit SendThread(TMemoryPort& port) : TSendThread(port), device_(port.device_) {}

   protected:
    bool WritePiece(const char* data, int length, int& taken) override {
      ++device_.WritesStarted;
      // A held device keeps the write pending; the worker polls it as it would an
      // overlapped result, watching for a stop.
      while (device_.Hold) {
        if (Stopping()) return false;
        SleepMilliseconds(1);
      }
      taken = device_.Take(data, length);
      return true;
    }

   private:
    MemoryDevice& device_;
  };

  class RecvThread final : public TRecvThread {
   public:
    explicit RecvThread(TMemoryPort& port) : TRecvThread(port), device_(port.device_) {}

   protected:
    bool ReadBlock(char* buffer, int capacity, int& got) override {
      ++device_.ReadsStarted;
      while (device_.HoldReads && !Stopping()) SleepMilliseconds(1);
      got = device_.Give(buffer, capacity);
      return true;
    }

   private:
    MemoryDevice& device_;
  };

  bool OpenDevice(bool) override {
    opened_ = true;
    return true;
  }
  bool MakeWorkers(std::unique_ptr<TSendThread>& send, std::unique_ptr<TCommThread>& receive) override {
    send = std::make_unique<SendThread>(*this);
    receive = std::make_unique<RecvThread>(*this);
    return true;
  }
  Clock& KindClock() override { return clock_; }
  void ReleaseDevice() override { opened_ = false; }
  int WriteDevice(int tag, const char* data, int length, int* written) override {
    const int n = device_.Take(data, length);
    if (written) *written = n;
    NotifyWriteProgress(tag, n, n == length ? 1 : 0);
    return n == length ? 1 : 0;
  }
  int ReadDevice(void* buffer, int length, int* got) override {
    const int n = device_.Give(static_cast<char*>(buffer), length);
    if (got) *got = n;
    return n == length ? 1 : 0;
  }

  MemoryDevice& device_;
  std::atomic<bool> opened_{false};
  // Close does not pause here.
  sim::FakeClock clock_;
};

}  // namespace qx::test
