#include "bench/BenchMachines.h"

#include <time.h>

#include <memory>

#include "driver/ImageDescriptor.h"
#include "tools/ServiceCalls.h"

namespace ccxbench {
namespace {

std::unique_ptr<BenchMachine[]> LoadAll() {
  // Boot after boot asks for the same simulated DRAM and threads: keep them for the next one.
  sim::KeepHostResourcesBetweenBoots(true);
  auto Machines = std::unique_ptr<BenchMachine[]>(new BenchMachine[kBenchMachineCount]);
  Machines[0] = {"16", sim::LoadMachineFile(CCX_MACHINES_DIR "/bench-16.json")};
  Machines[1] = {"default", sim::DefaultMachine()};
  Machines[2] = {"768", sim::LoadMachineFile(CCX_MACHINES_DIR "/bench-768.json")};
  return Machines;
}

}  // namespace

void CallEveryService(sim::Platform &Machine) {
  size_t Count = 0;
  const ccxsim::ServiceCall *Calls = ccxsim::ServiceCalls(Count);
  for (size_t Index = 0; Index < Count; Index++) Calls[Index].Run(Machine);
}

const BenchMachine &BenchMachineAt(size_t Index) {
  static const std::unique_ptr<BenchMachine[]> kMachines = LoadAll();
  return kMachines[Index];
}

sim::BootRecord BootOnce(const sim::Machine &Description, const std::function<void(sim::Platform &)> &AfterBoot,
                         sim::DriverLoader *Loader) {
  sim::BootOptions Options;
  Options.AfterBoot = AfterBoot ? AfterBoot : CallEveryService;
  Options.Loader = Loader;
  return sim::RunBoot(Description, CcxImageDescriptor, Options);
}

double ProcessCpuSeconds() {
  timespec Now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &Now);
  return double(Now.tv_sec) + double(Now.tv_nsec) * 1e-9;
}

bool BootedCleanly(const sim::BootRecord &Record, std::string &Why) {
  if (Record.End.How != sim::BootEnd::Returned) {
    Why = "the boot did not return: " + Record.End.Detail;
    return false;
  }
  if (!Record.FatalStops.empty()) {
    Why = "the boot showed a fatal stop";
    return false;
  }
  return true;
}

}  // namespace ccxbench
