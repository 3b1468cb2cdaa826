// What the simulator's oracle costs: every expected answer of every service a boot's consumers
// check (P-states and the power state, SRAT entries, resource-affinity entries, the SMBIOS
// records of every socket, the CPPC template, the configuration tokens), computed from the
// machine as the consumers compute it after each boot. Compare with BM_Boot of the same machine:
// the oracle must stay under a fifth of a boot.
#include <benchmark/benchmark.h>

#include "bench/BenchMachines.h"
#include "sim/oracle/AcpiProcessorOracle.h"
#include "sim/oracle/CppcOracle.h"
#include "sim/oracle/ResourceAffinityOracle.h"
#include "sim/oracle/SmbiosOracle.h"
#include "sim/oracle/SratOracle.h"
#include "sim/oracle/TokenOracle.h"

namespace ccxbench {
namespace {

void BM_OracleExpectations(benchmark::State &State) {
  const BenchMachine &Machine = BenchMachineAt(static_cast<size_t>(State.range(0)));
  State.SetLabel(Machine.Label);
  const uint32_t Sockets = Machine.Description.Shape.Count(sim::TopologyLevel::Socket);
  // The platform exists only inside the boot, so the measured loop runs there, after the boot.
  BootOnce(Machine.Description, [&](sim::Platform &Platform) {
    for (auto _ : State) {
      const double Start = ProcessCpuSeconds();
      benchmark::DoNotOptimize(sim::ExpectedAcpiPstateInfo(Platform));
      benchmark::DoNotOptimize(sim::ExpectedAcpiPowerState(Platform));
      benchmark::DoNotOptimize(sim::ExpectedSratProcessorEntries(Platform).Entries);
      benchmark::DoNotOptimize(sim::ExpectResourceAffinity(Platform));
      for (uint32_t Socket = 0; Socket < Sockets; Socket++) {
        benchmark::DoNotOptimize(sim::ExpectedProcessorInfo(Platform, Socket));
      }
      CCX_SMBIOS_CACHE_INFO Caches[CCX_SMBIOS_CACHE_LEVELS]{};
      sim::ExpectedCacheInfo(Platform, Caches);
      benchmark::DoNotOptimize(Caches);
      benchmark::DoNotOptimize(sim::ExpectedCppcTemplate(Platform.Description().Cppc));
      benchmark::DoNotOptimize(sim::ExpectedTokenWrites(Platform.Description()));
      State.SetIterationTime(ProcessCpuSeconds() - Start);
    }
  });
}

BENCHMARK(BM_OracleExpectations)->DenseRange(0, kBenchMachineCount - 1)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ccxbench
