#include "sim/oracle/MachineStateOracle.h"

#include <algorithm>
#include <cstdint>

namespace sim {

size_t StepOf(const BootRecord &Boot, const std::string &Name) {
  const auto It = std::find(Boot.Steps.begin(), Boot.Steps.end(), Name);
  return It == Boot.Steps.end() ? SIZE_MAX : size_t(It - Boot.Steps.begin());
}

bool SiblingThereAt(const Machine &Description, const BootRecord &Boot, const std::string &Sibling, size_t Step) {
  if (!Description.SiblingExists(Sibling)) return false;
  return Description.SiblingAtStart(Sibling) || StepOf(Boot, "arrival of " + Sibling) < Step;
}

bool DatabaseAtStep(const Machine &Description, const BootRecord &Boot, size_t Step) {
  return SiblingThereAt(Description, Boot, "pcd", Step);
}

const std::map<uint64_t, uint64_t> &ItemsAtStep(const Machine &Description, const BootRecord &Boot, size_t Step) {
  static const std::map<uint64_t, uint64_t> kNoItems;
  return DatabaseAtStep(Description, Boot, Step) ? Description.Pcd : kNoItems;
}

size_t EntryStep(const BootRecord &Boot) { return StepOf(Boot, "entry"); }

size_t PerCoreWorkStep(const Machine &Description, const BootRecord &Boot) {
  return Description.SiblingAtStart("mp_services") ? EntryStep(Boot) : StepOf(Boot, "arrival of mp_services");
}

std::optional<uint32_t> MemoryTypeAfterBoot(Platform &Machine, const BootRecord &Boot, uint64_t Address) {
  if (Boot.FirmwareMapAfter.empty()) return Machine.Core().Memory().TypeAt(Address);
  return MemoryTypeIn(Boot.FirmwareMapAfter, Address);
}

uint64_t PagesTakenAs(Platform &Machine, const BootRecord &Boot, uint32_t Type) {
  // Simulated DRAM starts free: every page of another type was taken during the boot. Real
  // firmware has its own before the image is loaded, and may hand pages out of a stretch its map
  // already shows as their type: there, the pages the image took count.
  const auto Count = [Type](const std::vector<MemoryRange> &Map) {
    uint64_t Pages = 0;
    for (const MemoryRange &Range : Map) Pages += Range.type == Type ? Range.pages : 0;
    return Pages;
  };
  return Boot.FirmwareMapAfter.empty() ? Count(Machine.Core().Memory().Map()) : Count(Boot.FirmwareImagePages);
}

bool ShowedFatalStop(const BootRecord &Boot, uint32_t Code) {
  return std::find(Boot.FatalStops.begin(), Boot.FatalStops.end(), Code) != Boot.FatalStops.end();
}

bool InitializationRuns(const Machine &Description) {
  return Description.SiblingAtStart("fabric_numa") && Description.SiblingAtStart("fabric_system") &&
         Description.SiblingAtStart("fabric_topology");
}

uint64_t ResetValue(const Processor &Each, uint32_t Msr) {
  for (const MsrWrite &Write : Each.MsrWrites()) {
    if (Write.Msr == Msr) return Write.Old;
  }
  return Each.PeekMsr(Msr).value_or(0);
}

std::vector<std::string> CheckMachineState(Platform &Machine, const BootRecord &Boot) {
  std::vector<std::string> Errors;
  // A boot that reset, halted or stopped left no state to hold to the machine: the next boot
  // starts from reset.
  if (Boot.End.How != BootEnd::Returned) return Errors;
  CheckMsrState(Machine, Boot, Errors);
  CheckReverseMapTable(Machine, Boot, Errors);
  CheckMemoryMap(Machine, Boot, Errors);
  CheckHeapBuffers(Machine, Boot, Errors);
  CheckItemsAndProtocols(Machine, Boot, Errors);
  CheckEventsAndVariables(Machine, Boot, Errors);
  CheckS3Handoff(Machine, Boot, Errors);
  return Errors;
}

}  // namespace sim
