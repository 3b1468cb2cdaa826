#include "sim/oracle/SratOracle.h"

#include "interfaces/CcxSratServices.h"
#include "interfaces/PlatformConfig.h"
#include "sim/oracle/AcpiProcessorPstates.h"
#include "sim/oracle/SiblingFaults.h"

namespace sim {
namespace {

constexpr uint64_t kX2ApicMode = 2;
// In local APIC mode a thread needs an APIC ID below 255 to be described.
constexpr uint32_t kFirstUndescribedApicId = 255;
constexpr uint8_t kLocalApicLength = sizeof(EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY);
constexpr uint8_t kX2ApicLength = sizeof(EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY);

}  // namespace

std::vector<ExpectedSratEntry> ExpectedSratProcessorEntries(Platform &Machine) {
  const sim::Machine &Description = Machine.Description();
  const bool X2Apic = PcdItem(ReadableItems(Machine), PcdCcxApicMode, 1) == kX2ApicMode;
  std::vector<ExpectedSratEntry> Entries;
  SiblingQueryCounter Calls(Machine);
  uint32_t Domain = 0;
  TopologyPosition Complex;
  for (size_t Index = 0; Index < Machine.Processors().Count(); Index++) {
    const Processor &Thread = Machine.Processors().At(Index);
    const TopologyPosition Holder = Thread.Position().ParentOf(TopologyLevel::Core);
    if (Index == 0 || Holder != Complex) {
      Complex = Holder;
      Domain = NextProximityDomain(Calls, Description, Complex).value_or(Domain);
    }
    if (!X2Apic && Thread.ApicId() >= kFirstUndescribedApicId) continue;
    ExpectedSratEntry Entry;
    Entry.Type = X2Apic ? EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY_TYPE : EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY_TYPE;
    Entry.Length = X2Apic ? kX2ApicLength : kLocalApicLength;
    Entry.ApicId = Thread.ApicId();
    Entry.Domain = Domain;
    Entry.Flags = EFI_ACPI_SRAT_AFFINITY_ENABLED;
    Entry.Processor = Index;
    Entries.push_back(Entry);
  }
  return Entries;
}

}  // namespace sim
