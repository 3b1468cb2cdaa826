#include "fuzz/FuzzPlatform.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "fuzz/Outcome.h"
#include "sim/cpu/CurrentProcessor.h"
#include "uefi/LoadedImage.h"
#include "uefi/StandardGuids.h"

namespace fuzz {

void Reshape(sim::Machine &Machine, const sim::Topology &Shape, const std::function<uint64_t(uint32_t)> &SocketValue) {
  const std::map<uint32_t, uint64_t> SocketMsrs = Machine.Processors.MsrResetOverrides[0];
  Machine.Processors.MsrResetOverrides.clear();
  const std::vector<sim::TopologyPosition> Walk = Shape.Walk();
  for (size_t Processor = 0; Processor < Walk.size(); Processor++) {
    for (const auto &[Msr, Value] : SocketMsrs) {
      Machine.Processors.MsrResetOverrides[Processor][Msr] = SocketValue(Walk[Processor].Socket);
    }
  }
  Machine.Shape = Shape;
}

const sim::Machine &DefaultMachineToReshape() {
  static const sim::Machine Default = [] {
    sim::Machine Read = sim::DefaultMachine();
    auto &Overrides = Read.Processors.MsrResetOverrides;
    Overrides.erase(Overrides.upper_bound(0), Overrides.end());
    return Read;
  }();
  return Default;
}

const sim::Machine &SmallMachine() {
  static const sim::Machine Small = [] {
    sim::Machine Made = DefaultMachineToReshape();
    Made.Name = "fuzz";
    const uint64_t Ppin = Made.Processors.MsrResetOverrides[0].begin()->second;
    Reshape(Made, sim::Topology(sim::UniformTopology{1, 1, 1, 1, 2, 1}), [Ppin](uint32_t) { return Ppin; });
    // The targets on this machine drive single services; the coprocessor's contention is the
    // whole-boot target's to choose.
    Made.Coprocessor.Contends = false;
    return Made;
  }();
  return Small;
}

sim::BootEnd RunOnPlatform(const sim::Machine &Description, const FuzzRun &Run) {
  sim::BootControl Control;
  sim::PlatformOptions Options;
  Options.Notes = [](const std::string &) {};
  sim::Platform Machine(Description, Options, Control);
  EFI_LOADED_IMAGE_PROTOCOL LoadedImage{};
  const sim::BootEnd End = Control.Run([&] {
    sim::ProcessorBinding RunningAs(Machine.Processors().Bsp());
    auto Active = Machine.Core().Activate();
    Machine.InstallStartingSiblings();
    if (Run.Prepare) Run.Prepare(Machine);
    CcxImageDescriptor.Load();
    EFI_HANDLE ImageHandle = sim::InstallLoadedImage(Machine, LoadedImage);
    Run.Drive(Machine, ImageHandle);
  });
  if (End.How == sim::BootEnd::SimulatorError) Fail(End.Detail.c_str());
  ObservePlatform(Machine, End);
  return End;
}

void Fail(const char *What) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", What);
  std::abort();
}

}  // namespace fuzz

// A fuzz target boots machine after machine in one process: like the benchmarks it keeps the
// worker threads, BSP threads and host pages of one execution for the next. Every execution still
// loads a fresh driver image and builds its platform anew from the machine description, and kept
// pages are cleared before reuse, so nothing simulated carries over (tests/fuzz replays the
// corpora in different orders to show it).
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  sim::KeepHostResourcesBetweenBoots(true);
  return 0;
}
