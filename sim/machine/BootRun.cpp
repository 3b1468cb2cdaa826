// A machine across a run of boots, and the down-core state the pre-memory phase hands over.
#include <algorithm>

#include "sim/machine/Machine.h"

namespace sim {

bool IsDownCored(const Machine &Description) {
  return std::any_of(Description.HeapHobs.begin(), Description.HeapHobs.end(),
                     [](const HeapHobRecord &Record) { return Record.Handle == kDownCoreHeapHandle; });
}

void SetDownCored(Machine &Description, bool DownCored) {
  std::erase_if(Description.HeapHobs, [](const HeapHobRecord &Record) { return Record.Handle == kDownCoreHeapHandle; });
  if (!DownCored) return;
  // The component that down-cores leaves a one-byte buffer; its contents mean nothing here.
  HeapHobRecord Record;
  Record.Handle = kDownCoreHeapHandle;
  Record.Persistence = 1;
  Record.Data = {1};
  Description.HeapHobs.push_back(Record);
}

Machine MachineForBoot(const Machine &Description, uint64_t Number) {
  Machine Result = Description;
  if (Description.Boots.empty() || Number == 0) return Result;
  const size_t Index = std::min<uint64_t>(Number, Description.Boots.size()) - 1;
  const BootVariation &Variation = Description.Boots[Index];
  if (Variation.DownCored) SetDownCored(Result, *Variation.DownCored);
  // The machine's faults hold for every boot; a boot's own come on top.
  Result.Faults.insert(Result.Faults.end(), Variation.Faults.begin(), Variation.Faults.end());
  const BootExpectation &Own = Variation.Expect;
  if (Own.EntryStatus) Result.Expect.EntryStatus = Own.EntryStatus;
  if (Own.FatalStops) Result.Expect.FatalStops = Own.FatalStops;
  if (Own.RanToItsEnd) Result.Expect.RanToItsEnd = Own.RanToItsEnd;
  if (Own.SiblingFailures) Result.Expect.SiblingFailures = Own.SiblingFailures;
  return Result;
}

}  // namespace sim
