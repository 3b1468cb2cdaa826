// Each service alone: the consumer that calls it runs once on a freshly booted machine, and only
// that call is timed. A fresh boot for every call is what a real consumer meets (several services
// keep their result in a heap buffer of a fixed handle and may be called once per boot), so the
// boot itself runs untimed before each call; the fixed iteration counts keep that affordable.
#include <benchmark/benchmark.h>

#include "bench/BenchMachines.h"
#include "tools/ServiceCalls.h"

namespace ccxbench {
namespace {

void BM_Service(benchmark::State &State) {
  const BenchMachine &Machine = BenchMachineAt(static_cast<size_t>(State.range(0)));
  size_t Count = 0;
  const ccxsim::ServiceCall &Call = ccxsim::ServiceCalls(Count)[static_cast<size_t>(State.range(1))];
  State.SetLabel(std::string(Machine.Label) + " " + Call.Name);
  for (auto _ : State) {
    double Seconds = 0;
    const sim::BootRecord Record = BootOnce(Machine.Description, [&](sim::Platform &Platform) {
      const double Start = ProcessCpuSeconds();
      Call.Run(Platform);
      Seconds = ProcessCpuSeconds() - Start;
    });
    std::string Why;
    if (!BootedCleanly(Record, Why)) {
      State.SkipWithError(Why.c_str());
      return;
    }
    State.SetIterationTime(Seconds);
  }
  State.SetItemsProcessed(State.iterations());
}

// Every service on one machine; the larger the machine, the fewer boots.
void Register(int64_t MachineIndex, int64_t Iterations) {
  size_t Count = 0;
  ccxsim::ServiceCalls(Count);
  auto *Bench = benchmark::RegisterBenchmark("BM_Service", BM_Service);
  for (int64_t Service = 0; Service < int64_t(Count); Service++) Bench->Args({MachineIndex, Service});
  Bench->Iterations(Iterations)->UseManualTime()->Unit(benchmark::kMicrosecond);
}

const bool kRegistered = [] {
  Register(0, 200);
  Register(1, 50);
  Register(2, 10);
  return true;
}();

}  // namespace
}  // namespace ccxbench
