#include "port/data_queue.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>

namespace qx {
namespace {

std::string Bytes(int n, char first) {
  std::string s;
  for (int i = 0; i < n; ++i) s.push_back(static_cast<char>(first + i));
  return s;
}

TEST(DataQueue, TakeCrossesChunksAndKeepsTheRest) {
  DataQueue q;
  const std::string a = Bytes(10, 'a');
  const std::string b = Bytes(5, 'A');
  ASSERT_EQ(q.Append(7, a.data(), 10), 10);
  ASSERT_EQ(q.Append(0, b.data(), 5), 5);

  char out[12] = {};
  EXPECT_EQ(q.Take(out, 12), 12);
  EXPECT_EQ(std::string(out, 12), a + "AB");
  EXPECT_EQ(q.ChunkCount(), 1);
  EXPECT_EQ(q.QueuedBytes(), 3);
  EXPECT_EQ(q.LastTaken(), 12);

  EXPECT_EQ(q.Take(out, 12), 3);
  EXPECT_EQ(std::string(out, 3), "CDE");
  EXPECT_EQ(q.ChunkCount(), 0);
  EXPECT_EQ(q.QueuedBytes(), 0);
  EXPECT_EQ(q.LastTaken(), 3);

  EXPECT_EQ(q.Take(out, 12), 0);
  EXPECT_EQ(q.LastTaken(), 0);
}

TEST(DataQueue, TakeOfExactlyTheHeadChunkFreesIt) {
  DataQueue q;
  q.Append(0, "abcd", 4);
  q.Append(0, "ef", 2);
  char out[8];
  ASSERT_EQ(q.Take(out, 2), 2);  // partly consumed head: 2 left
  EXPECT_EQ(q.ChunkCount(), 2);
  ASSERT_EQ(q.Take(out, 2), 2);
  EXPECT_EQ(std::string(out, 2), "cd");
  EXPECT_EQ(q.ChunkCount(), 1);
  EXPECT_EQ(q.QueuedBytes(), 2);
}

TEST(DataQueue, CapIsTestedBeforeAdding) {
  DataQueue q;
  ASSERT_EQ(q.SetCap(4096), 1);
  const std::string big(5000, 'x');
  EXPECT_EQ(q.Append(0, big.data(), 5000), 5000);  // an empty queue takes it whole
  EXPECT_EQ(q.QueuedBytes(), 5000);
  EXPECT_EQ(q.Append(0, "y", 1), 0);               // already at or over the cap
  EXPECT_EQ(q.QueuedBytes(), 5000);

  DataQueue r;
  r.SetCap(4096);
  const std::string part(4000, 'p');
  ASSERT_EQ(r.Append(0, part.data(), 4000), 4000);
  EXPECT_EQ(r.Append(0, std::string(3000, 'q').data(), 3000), 3000);  // below the cap: accepted
  EXPECT_EQ(r.QueuedBytes(), 7000);

  // At the cap exactly: one byte below still takes a chunk, the cap itself refuses;
  // taking a byte back opens it again. Cap 0 limits nothing.
  for (const int held : {4095, 4096, 4097}) {
    DataQueue t;
    t.SetCap(4096);
    ASSERT_EQ(t.Append(0, std::string(held, 'h').data(), held), held);
    EXPECT_EQ(t.Append(0, "z", 1), held < 4096 ? 1 : 0) << held;
    char one;
    if (held == 4096) {
      ASSERT_EQ(t.Take(&one, 1), 1);
      EXPECT_EQ(t.Append(0, "z", 1), 1);
    }
  }
  DataQueue unlimited;
  ASSERT_EQ(unlimited.Append(0, std::string(70000, 'u').data(), 70000), 70000);
  EXPECT_EQ(unlimited.Append(0, "z", 1), 1);
}

TEST(DataQueue, SetCapRefusesNegativeAndClearKeepsCap) {
  DataQueue q;
  EXPECT_EQ(q.SetCap(-1), 0);
  EXPECT_EQ(q.Cap(), 0);
  q.SetCap(10);
  q.Append(0, "0123456789", 10);
  char out[4];
  q.Take(out, 4);
  q.Clear();
  EXPECT_EQ(q.Cap(), 10);
  EXPECT_EQ(q.QueuedBytes(), 0);
  EXPECT_EQ(q.ChunkCount(), 0);
  EXPECT_EQ(q.LastTaken(), 0);
  EXPECT_EQ(q.Append(0, "z", 1), 1);
  EXPECT_EQ(q.Take(out, 4), 1);
  EXPECT_EQ(out[0], 'z');
}

TEST(DataQueue, ManyChunksAreFreedWithoutRecursion) {
  DataQueue q;
  for (int i = 0; i < 200000; ++i) q.Append(0, "x", 1);
  EXPECT_EQ(q.ChunkCount(), 200000);
  q.Clear();  // would overflow the stack if chunks were freed recursively
  for (int i = 0; i < 200000; ++i) q.Append(0, "x", 1);
}  // and the destructor

// Random appends and takes against a plain byte deque: order, counts and the cap rule.
TEST(DataQueue, BehavesLikeAByteFifo) {
  std::mt19937 rng(1234);
  DataQueue q;
  std::deque<char> model;
  int chunks = 0;
  std::deque<int> chunkLeft;
  q.SetCap(3000);
  char buffer[2048];
  for (int step = 0; step < 20000; ++step) {
    if (rng() % 2) {
      const int n = 1 + static_cast<int>(rng() % 700);
      std::string data;
      for (int i = 0; i < n; ++i) data.push_back(static_cast<char>(rng()));
      const int result = q.Append(0, data.data(), n);
      if (static_cast<int>(model.size()) >= 3000) {
        ASSERT_EQ(result, 0);
      } else {
        ASSERT_EQ(result, n);
        model.insert(model.end(), data.begin(), data.end());
        chunkLeft.push_back(n);
        ++chunks;
      }
    } else {
      const int max = 1 + static_cast<int>(rng() % 2048);
      const int got = q.Take(buffer, max);
      const int expected = std::min<int>(max, static_cast<int>(model.size()));
      ASSERT_EQ(got, expected);
      ASSERT_EQ(q.LastTaken(), got);
      for (int i = 0; i < got; ++i) {
        ASSERT_EQ(buffer[i], model.front());
        model.pop_front();
      }
      int left = got;
      while (left > 0) {
        if (chunkLeft.front() <= left) {
          left -= chunkLeft.front();
          chunkLeft.pop_front();
          --chunks;
        } else {
          chunkLeft.front() -= left;
          left = 0;
        }
      }
    }
    ASSERT_EQ(q.QueuedBytes(), static_cast<int>(model.size()));
    ASSERT_EQ(q.ChunkCount(), chunks);
  }
}

}  // namespace
}  // namespace qx
