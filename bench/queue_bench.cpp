// Data queue throughput: Append then Take of the same bytes, by chunk size.

#include <benchmark/benchmark.h>

#include <vector>

#include "port/data_queue.h"

namespace {

void AppendThenTake(benchmark::State& state) {
  const int chunk = static_cast<int>(state.range(0));
  const std::vector<char> data(static_cast<std::size_t>(chunk), 'x');
  std::vector<char> out(static_cast<std::size_t>(chunk));
  qx::DataQueue queue;
  for (auto _ : state) {
    queue.Append(0, data.data(), chunk);
    benchmark::DoNotOptimize(queue.Take(out.data(), chunk));
  }
  state.SetBytesProcessed(state.iterations() * chunk);
}
BENCHMARK(AppendThenTake)->RangeMultiplier(4)->Range(1, 65536);

// Many small appends drained by block-sized takes, as the send worker sees them.
void SmallAppendsBlockTakes(benchmark::State& state) {
  const int chunk = static_cast<int>(state.range(0));
  const std::vector<char> data(static_cast<std::size_t>(chunk), 'x');
  std::vector<char> out(1024);
  qx::DataQueue queue;
  for (auto _ : state) {
    for (int queued = 0; queued < 4096; queued += chunk) queue.Append(0, data.data(), chunk);
    while (queue.Take(out.data(), 1024) != 0) {
    }
  }
  state.SetBytesProcessed(state.iterations() * ((4096 + chunk - 1) / chunk) * chunk);
}
BENCHMARK(SmallAppendsBlockTakes)->Arg(1)->Arg(16)->Arg(256);

}  // namespace
