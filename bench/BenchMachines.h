// The machines the benchmarks boot, loaded once per process: the 16-thread machine with 2 GB of
// DRAM, the built-in default machine (128 threads) and the 768-thread machine.
#ifndef BENCH_BENCH_MACHINES_H_
#define BENCH_BENCH_MACHINES_H_

#include <cstddef>
#include <functional>
#include <string>

#include "sim/machine/Machine.h"
#include "sim/platform/BootRunner.h"

namespace ccxbench {

struct BenchMachine {
  const char *Label;  // the benchmark's argument name: "16", "default", "768"
  sim::Machine Description;
};

// Index 0, 1 and 2 as listed above.
constexpr size_t kBenchMachineCount = 3;
const BenchMachine &BenchMachineAt(size_t Index);

// Calls every service through its consumer, as the platform's table builders do after a boot.
void CallEveryService(sim::Platform &Machine);

// One whole boot: entry, deferred work, ready-to-boot and, after it, every service called
// through its consumer. AfterBoot, when given, runs instead of the consumers. Loader, when given,
// boots the delivered image it loads instead of the host build.
sim::BootRecord BootOnce(const sim::Machine &Description,
                         const std::function<void(sim::Platform &)> &AfterBoot = nullptr,
                         sim::DriverLoader *Loader = nullptr);

// The processor time of the whole process so far (every thread): what one free core spends.
double ProcessCpuSeconds();

// Whether a boot ran as a benchmark may count it: returned, no fatal stop.
bool BootedCleanly(const sim::BootRecord &Record, std::string &Why);

}  // namespace ccxbench

#endif  // BENCH_BENCH_MACHINES_H_
