#include "port/data_queue.h"

#include <cstring>

namespace qx {

void DataQueue::PopHead() {
  // Unlink before freeing so that a long list is never freed recursively.
  std::unique_ptr<Chunk> old = std::move(head_);
  head_ = std::move(old->Next);
  if (!head_) tail_ = nullptr;
  --chunkCount_;
}

void DataQueue::Clear() {
  while (head_) PopHead();
  queuedBytes_ = 0;
  chunkCount_ = 0;
  lastTaken_ = 0;
}

int DataQueue::SetCap(int n) {
  if (n < 0) return 0;
  cap_ = n;
  return 1;
}

int DataQueue::Append(int tag, const char* bytes, int length) {
  if (cap_ != 0 && queuedBytes_ >= cap_) return 0;
  if (length <= 0) return 0;
  auto chunk = std::make_unique<Chunk>();
  chunk->Tag = tag;
  chunk->Data = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(length));
  std::memcpy(chunk->Data.get(), bytes, static_cast<std::size_t>(length));
  chunk->Length = length;
  Chunk* added = chunk.get();
  if (tail_) {
    tail_->Next = std::move(chunk);
  } else {
    head_ = std::move(chunk);
  }
  tail_ = added;
  queuedBytes_ += length;
  ++chunkCount_;
  return length;
}

int DataQueue::Take(char* destination, int max) {
  int got = 0;
  while (head_ && got < max) {
    Chunk& chunk = *head_;
    const int left = chunk.Length - chunk.Consumed;
    const int want = max - got;
    if (left > want) {
      std::memcpy(destination + got, chunk.Data.get() + chunk.Consumed, static_cast<std::size_t>(want));
      chunk.Consumed += want;
      got = max;
      break;
    }
    std::memcpy(destination + got, chunk.Data.get() + chunk.Consumed, static_cast<std::size_t>(left));
    got += left;
    PopHead();
  }
  lastTaken_ = got;
  queuedBytes_ -= got;
  return got;
}

}  // namespace qx
