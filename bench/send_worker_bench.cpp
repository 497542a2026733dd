// Bytes per second through an asynchronous port's send worker to a device that
// takes everything at once: the cost of the queue, the worker hand-off and the
// staging copy, by output block size.

#include <benchmark/benchmark.h>

#include <string>

#include "support/memory_port.h"

namespace {

void SendWorkerToNullDevice(benchmark::State& state) {
  qx::test::MemoryDevice device;
  device.Discard = true;
  qx::test::TMemoryPort port(0, device);
  port.SetOutputBlockSize(static_cast<int>(state.range(0)));
  port.Open();
  const std::string data(4096, 'x');
  long long accepted = 0;
  for (auto _ : state) {
    int written = 0;
    // The queue refuses writes while it is full; keep offering until it takes one.
    while (port.Write(0, data.data(), static_cast<int>(data.size()), &written) == 0) {
    }
    accepted += written;
  }
  while (device.BytesTaken < accepted) {
  }
  state.SetBytesProcessed(accepted);
  port.Close();
}
BENCHMARK(SendWorkerToNullDevice)->Arg(256)->Arg(1024)->Arg(4096)->Arg(65536)->UseRealTime();

}  // namespace
