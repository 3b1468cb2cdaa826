// Whole boots per second, and what one boot costs per simulated thread: the figures that say how
// many machines and faults a test run can cover, and whether the simulator scales linearly.
#include <benchmark/benchmark.h>

#include <chrono>

#include "bench/BenchMachines.h"

namespace ccxbench {
namespace {

// The time of a boot is the processor time of the whole process (the BSP thread and the AP worker
// threads together): what one free core spends on it. Wall-clock time on this shared machine
// mostly measures the other users of the core, so it is only given as a counter beside it.
void BM_Boot(benchmark::State &State) {
  const BenchMachine &Machine = BenchMachineAt(static_cast<size_t>(State.range(0)));
  State.SetLabel(Machine.Label);
  size_t Threads = 0;
  double WallSeconds = 0;
  for (auto _ : State) {
    const auto WallStart = std::chrono::steady_clock::now();
    const double CpuStart = ProcessCpuSeconds();
    const sim::BootRecord Record = BootOnce(Machine.Description);
    State.SetIterationTime(ProcessCpuSeconds() - CpuStart);
    WallSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - WallStart).count();
    std::string Why;
    if (!BootedCleanly(Record, Why)) {
      State.SkipWithError(Why.c_str());
      return;
    }
    Threads = Record.ProcessorCount;
  }
  State.SetItemsProcessed(State.iterations());
  State.counters["wall_seconds_per_boot"] = WallSeconds / double(State.iterations());
  State.counters["threads"] = double(Threads);
  // Seconds of one boot divided by its simulated threads.
  State.counters["seconds_per_thread"] =
      benchmark::Counter(double(Threads), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_Boot)->DenseRange(0, kBenchMachineCount - 1)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ccxbench
