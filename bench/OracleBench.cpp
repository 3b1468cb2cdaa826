// What the simulator's oracle costs: every expected answer of every service a boot's consumers
// check (P-states and the power state, SRAT entries, resource-affinity entries, the SMBIOS
// records of every socket, the CPPC template, the configuration tokens), computed from the
// machine as the consumers compute it after each boot, and the check of the state the boot left
// (every processor's MSRs, the reverse-map table, the heap buffers). Compare with BM_Boot of the
// same machine: the oracle must stay under a fifth of a boot.
#include <benchmark/benchmark.h>

#include "bench/BenchMachines.h"
#include "sim/oracle/AcpiProcessorOracle.h"
#include "driver/ImageDescriptor.h"
#include "sim/oracle/CppcOracle.h"
#include "sim/oracle/MachineStateOracle.h"
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
  // The platform exists only inside the boot, so the measured loop runs there, once the boot and
  // its consumers' calls are over and the record is taken.
  sim::BootOptions Options;
  Options.AfterBoot = CallEveryService;
  Options.CheckState = [&](sim::Platform &Platform, const sim::BootRecord &Record) {
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
      benchmark::DoNotOptimize(sim::CheckMachineState(Platform, Record));
      State.SetIterationTime(ProcessCpuSeconds() - Start);
    }
    return std::vector<std::string>{};
  };
  sim::RunBoot(Machine.Description, CcxImageDescriptor, Options);
}

BENCHMARK(BM_OracleExpectations)->DenseRange(0, kBenchMachineCount - 1)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ccxbench
