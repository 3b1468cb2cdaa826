// ccx_boot_memory MACHINE: boots one of the benchmark machines once in this fresh process and
// prints, as JSON, the process's peak resident memory next to the memory the boot allocated in
// the simulated DRAM (every page the memory map no longer shows as free). The simulator's own
// overhead is the difference; the target is that it stays under 64 MB.
#include <sys/resource.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>

#include <nlohmann/json.hpp>

#include "bench/BenchMachines.h"
#include "tools/ServiceCalls.h"

namespace {

uint64_t PeakResidentBytes() {
  rusage Usage{};
  getrusage(RUSAGE_SELF, &Usage);
  return uint64_t(Usage.ru_maxrss) * 1024;  // Linux reports kilobytes
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::cerr << "usage: ccx_boot_memory 16|default|768\n";
    return 2;
  }
  size_t Index = 0;
  while (Index < ccxbench::kBenchMachineCount && std::strcmp(ccxbench::BenchMachineAt(Index).Label, argv[1]) != 0) {
    Index++;
  }
  if (Index == ccxbench::kBenchMachineCount) {
    std::cerr << "ccx_boot_memory: no benchmark machine \"" << argv[1] << "\"\n";
    return 2;
  }
  const uint64_t Before = PeakResidentBytes();
  uint64_t Allocated = 0;
  std::map<uint32_t, uint64_t> ByType;
  const sim::BootRecord Record = ccxbench::BootOnce(ccxbench::BenchMachineAt(Index).Description, [&](sim::Platform &Machine) {
    // The consumers first, as in every benchmarked boot, then the map as they leave it.
    size_t Count = 0;
    const ccxsim::ServiceCall *Calls = ccxsim::ServiceCalls(Count);
    for (size_t Call = 0; Call < Count; Call++) Calls[Call].Run(Machine);
    for (const sim::MemoryRange &Range : Machine.Core().Memory().Map()) {
      if (Range.type == EfiConventionalMemory) continue;
      ByType[Range.type] += Range.pages * 4096;
      Allocated += Range.pages * 4096;
    }
  });
  std::string Why;
  const bool Clean = ccxbench::BootedCleanly(Record, Why);
  const uint64_t Peak = PeakResidentBytes();
  nlohmann::json Types = nlohmann::json::object();
  for (const auto &[Type, Bytes] : ByType) Types[std::to_string(Type)] = Bytes;
  const nlohmann::json Report = {{"machine", argv[1]},
                                 {"threads", Record.ProcessorCount},
                                 {"booted_cleanly", Clean},
                                 {"peak_rss_bytes_before_boot", Before},
                                 {"peak_rss_bytes", Peak},
                                 {"allocated_bytes", Allocated},
                                 {"allocated_bytes_by_memory_type", Types},
                                 {"overhead_bytes", int64_t(Peak) - int64_t(Allocated)},
                                 {"within_allocated_plus_64_mb", Peak <= Allocated + (uint64_t(64) << 20)}};
  std::cout << Report.dump(2) << "\n";
  return Clean ? 0 : 1;
}
