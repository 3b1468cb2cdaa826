#include "sim/machine/MachineConsistency.h"

#include <algorithm>
#include <cstdio>

#include "interfaces/CcxResourceAffinityServices.h"
#include "interfaces/PlatformConfig.h"
#include "sim/cpu/ProcessorSet.h"

namespace sim {
namespace {

// The APIC mode in which the SRAT gets the 32-bit x2APIC form for every processor. In any other
// mode it gets the local APIC form, whose APIC ID is one byte with 255 the broadcast ID.
constexpr uint64_t kApicModeX2Apic = 2;
constexpr uint32_t kFirstApicIdWithoutLocalApicEntry = 255;
// The I/O power-state mode that asks for the power-state record to say enabled.
constexpr uint64_t kIoPowerStateModeOn = 1;

std::string Hex(uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

uint64_t ItemValue(const Machine &Description, uint64_t Token) {
  const auto It = Description.Pcd.find(Token);
  return It == Description.Pcd.end() ? 0 : It->second;
}

// "PcdCcxApicMode 1", or "PcdCcxApicMode, unset (0)," where the description leaves it out.
// Token is one of the driver's items, which the item table always has.
std::string ItemSetting(const Machine &Description, uint64_t Token) {
  const PcdItemDefinition &Item = *FindPcdItem(Token);
  if (Description.Pcd.count(Token) == 0) return std::string(Item.Name) + ", unset (0),";
  return std::string(Item.Name) + " " + PcdValueText(Item, ItemValue(Description, Token));
}

// Outside x2APIC mode the SRAT describes only the processors whose APIC ID fits a local APIC
// entry; an operating system then knows nothing of the others' proximity.
void CheckSratApicMode(const Machine &Description, const std::vector<ProcessorIdentity> &Processors,
                       std::vector<MachineWarning> &Warnings) {
  if (ItemValue(Description, PcdCcxApicMode) == kApicModeX2Apic) return;
  size_t LeftOut = 0;
  uint32_t Lowest = UINT32_MAX, Highest = 0;
  for (const ProcessorIdentity &Each : Processors) {
    if (Each.ApicId < kFirstApicIdWithoutLocalApicEntry) continue;
    LeftOut++;
    Lowest = std::min(Lowest, Each.ApicId);
    Highest = std::max(Highest, Each.ApicId);
  }
  if (LeftOut == 0) return;
  const std::string All = std::to_string(Processors.size());
  Warnings.push_back(
      {std::to_string(LeftOut) + " of " + All + " processors have APIC IDs of 255 or above (" + Hex(Lowest) + " to " +
           Hex(Highest) + ") and " + ItemSetting(Description, PcdCcxApicMode) +
           " leaves the driver in xAPIC mode, so the SRAT will describe only " +
           std::to_string(Processors.size() - LeftOut) + " of the " + All + " processors",
       "set pcd.PcdCcxApicMode to 2 (x2APIC) to describe all " + All});
}

// The cache and TLB entries of the resource affinity table mark their sharing threads in a map
// of 256 walk positions; the entries of threads further on the walk mark none.
void CheckSiblingMaps(const std::vector<ProcessorIdentity> &Processors, std::vector<MachineWarning> &Warnings) {
  constexpr size_t kPositions = CCX_AFFINITY_SIBLING_MAP_POSITIONS;
  if (Processors.size() <= kPositions) return;
  Warnings.push_back({std::to_string(Processors.size()) + " processors, but the sibling map of a cache or TLB entry of "
                          "the resource affinity table holds " + std::to_string(kPositions) +
                          " positions, so the entries of processors " + std::to_string(kPositions) + " to " +
                          std::to_string(Processors.size() - 1) + " (in walk order) will mark no sibling",
                      "no configuration item changes it; a topology of at most " + std::to_string(kPositions) +
                          " threads does"});
}

// The power-state record is enabled only with a base address to go with the mode.
void CheckIoPowerState(const Machine &Description, std::vector<MachineWarning> &Warnings) {
  if (ItemValue(Description, PcdCcxIoPowerStateMode) != kIoPowerStateModeOn) return;
  if (ItemValue(Description, PcdCcxIoPowerStateBaseAddress) != 0) return;
  Warnings.push_back({"PcdCcxIoPowerStateMode 1 asks for I/O power states, but " +
                          ItemSetting(Description, PcdCcxIoPowerStateBaseAddress) +
                          " gives them no port, so the power-state record will say disabled",
                      "set pcd.PcdCcxIoPowerStateBaseAddress to the I/O base of the power-state registers "
                      "(not 0)"});
}

}  // namespace

std::string MachineWarning::Line() const { return "WARNING: " + Cause + "; " + Remedy; }

std::vector<MachineWarning> ConsistencyWarnings(const Machine &Description) {
  std::vector<MachineWarning> Warnings;
  // A loaded description numbers its processors without a fault; one built in code may not, and
  // then it has no processors to speak of (booting it reports why).
  std::vector<ProcessorIdentity> Processors;
  try {
    Processors = NumberProcessors(Description.Shape, Description.Processors);
  } catch (const std::exception &) {
    Processors.clear();
  }
  CheckSratApicMode(Description, Processors, Warnings);
  CheckSiblingMaps(Processors, Warnings);
  CheckIoPowerState(Description, Warnings);
  return Warnings;
}

std::vector<std::string> ConsistencyWarningLines(const Machine &Description) {
  std::vector<std::string> Lines;
  for (const MachineWarning &Warning : ConsistencyWarnings(Description)) Lines.push_back(Warning.Line());
  return Lines;
}

}  // namespace sim
