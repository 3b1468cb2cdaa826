#include "fuzz/FuzzPlatform.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

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

sim::Machine SmallMachine() {
  sim::Machine Small = sim::DefaultMachine();
  Small.Name = "fuzz";
  const uint64_t Ppin = Small.Processors.MsrResetOverrides[0].begin()->second;
  Reshape(Small, sim::Topology(sim::UniformTopology{1, 1, 1, 1, 2, 1}), [Ppin](uint32_t) { return Ppin; });
  // The coprocessor's own thread only adds scheduling noise to a run.
  Small.Coprocessor.Contends = false;
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
  return End;
}

void Fail(const char *What) {
  std::fprintf(stderr, "fuzz invariant broken: %s\n", What);
  std::abort();
}

}  // namespace fuzz
