// The delivered image against the host build: each iteration boots the machine once with each,
// so that both are measured in the same run under the same load, and reports the ratio of their
// processor times. Every trap of the image (CPUID, MSR, port and register-window accesses) is a
// signal delivered to the process, which is what the ratio prices.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/BenchMachines.h"
#include "sim/image/DeliveredImage.h"

namespace ccxbench {
namespace {

sim::DeliveredImage *Image(std::string &Why) {
  static std::unique_ptr<sim::DeliveredImage> Loaded;
  static std::string Problem;
  static const bool Tried = [] {
    try {
      if (sim::ImageTrapsSupported(Problem)) Loaded = std::make_unique<sim::DeliveredImage>(CCX_FIRMWARE_IMAGE_PATH);
    } catch (const std::exception &Error) {
      Problem = Error.what();
    }
    return true;
  }();
  static_cast<void>(Tried);
  Why = Problem;
  return Loaded.get();
}

void BM_BootImageAgainstHost(benchmark::State &State) {
  const BenchMachine &Machine = BenchMachineAt(static_cast<size_t>(State.range(0)));
  State.SetLabel(Machine.Label);
  std::string Why;
  sim::DeliveredImage *Delivered = Image(Why);
  if (Delivered == nullptr) {
    State.SkipWithError(Why.c_str());
    return;
  }
  double HostSeconds = 0;
  double ImageSeconds = 0;
  uint64_t Traps = 0;
  for (auto _ : State) {
    double Start = ProcessCpuSeconds();
    const sim::BootRecord Host = BootOnce(Machine.Description);
    HostSeconds += ProcessCpuSeconds() - Start;
    Start = ProcessCpuSeconds();
    const sim::BootRecord Booted = BootOnce(Machine.Description, nullptr, Delivered);
    ImageSeconds += ProcessCpuSeconds() - Start;
    State.SetIterationTime(ProcessCpuSeconds() - Start);
    if (!BootedCleanly(Host, Why) || !BootedCleanly(Booted, Why)) {
      State.SkipWithError(Why.c_str());
      return;
    }
    Traps = 0;
    for (const auto &[Kind, Count] : Booted.Traps) Traps += Count;
  }
  const double Iterations = double(State.iterations());
  State.counters["host_us_per_boot"] = HostSeconds / Iterations * 1e6;
  State.counters["image_us_per_boot"] = ImageSeconds / Iterations * 1e6;
  State.counters["image_to_host"] = ImageSeconds / HostSeconds;
  State.counters["traps_per_boot"] = double(Traps);
}

// bench-16 and the default machine.
BENCHMARK(BM_BootImageAgainstHost)->DenseRange(0, 1)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ccxbench
