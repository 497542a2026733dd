#pragma once

#include <memory>

namespace qx {

// A first-in, first-out queue of byte chunks with a byte cap, used as a port's send
// queue and receive queue. It has no lock of its own: every use is bracketed by the
// lock that belongs to the queue (see PortQueue).
class DataQueue {
 public:
  DataQueue() = default;
  DataQueue(const DataQueue&) = delete;
  DataQueue& operator=(const DataQueue&) = delete;
  ~DataQueue() { Clear(); }

  // Frees every chunk; the counts become 0, the cap stays.
  void Clear();
  // n < 0 is refused (0); otherwise the cap becomes n (0 = no limit) and the result is 1.
  int SetCap(int n);
  // Queues a copy of the bytes and returns `length`, or refuses with 0 when the queue
  // already holds `Cap` bytes or more. The test comes before adding, so one chunk may
  // carry the queue past the cap.
  int Append(int tag, const char* bytes, int length);
  // Moves up to `max` bytes (max >= 1) into `destination` across chunk boundaries and
  // returns how many; LastTaken records the count.
  int Take(char* destination, int max);

  int QueuedBytes() const { return queuedBytes_; }
  int ChunkCount() const { return chunkCount_; }
  int Cap() const { return cap_; }
  // On a send queue: the block the send worker has taken and not yet finished.
  int LastTaken() const { return lastTaken_; }
  void ResetLastTaken() { lastTaken_ = 0; }

 private:
  struct Chunk {
    int Tag = 0;
    std::unique_ptr<char[]> Data;
    int Length = 0;
    int Consumed = 0;
    std::unique_ptr<Chunk> Next;
  };

  void PopHead();

  std::unique_ptr<Chunk> head_;
  Chunk* tail_ = nullptr;
  int queuedBytes_ = 0;
  int chunkCount_ = 0;
  int cap_ = 0;
  int lastTaken_ = 0;
};

}  // namespace qx
