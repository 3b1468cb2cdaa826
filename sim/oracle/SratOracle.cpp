#include "sim/oracle/SratOracle.h"

#include "interfaces/CcxSratServices.h"
#include "interfaces/PlatformConfig.h"
#include "sim/oracle/AcpiProcessorPstates.h"
#include "sim/oracle/ResourceAffinityWalk.h"

namespace sim {
namespace {

constexpr uint64_t kX2ApicMode = 2;
// In local APIC mode a thread needs an APIC ID below 255 to be described.
constexpr uint32_t kFirstUndescribedApicId = 255;
constexpr uint8_t kLocalApicLength = sizeof(EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY);
constexpr uint8_t kX2ApicLength = sizeof(EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY);

}  // namespace

ExpectedSrat ExpectedSratProcessorEntries(Platform &Machine) {
  const bool X2Apic = PcdItem(ReadableItems(Machine), PcdCcxApicMode, 1) == kX2ApicMode;
  ExpectedSrat Expected;
  AffinitySiblingAnswers Answers(Machine);
  AffinityThreadWalk Walk(Answers);
  uint32_t Domain = 0;
  while (const std::optional<unsigned> Code = Walk.Next()) {
    if (*Code <= kWalkStepComplex) Domain = Answers.ProximityDomain(Walk.Position()).value_or(Domain);
    // The processors are numbered in walk order.
    const size_t Index = Walk.Number();
    const uint32_t ApicId = Machine.Processors().At(Index).ApicId();
    if (!X2Apic && ApicId >= kFirstUndescribedApicId) continue;
    ExpectedSratEntry Entry;
    Entry.Type = X2Apic ? EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY_TYPE : EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY_TYPE;
    Entry.Length = X2Apic ? kX2ApicLength : kLocalApicLength;
    Entry.ApicId = ApicId;
    Entry.Domain = Domain;
    Entry.Flags = EFI_ACPI_SRAT_AFFINITY_ENABLED;
    Entry.Processor = Index;
    Expected.Entries.push_back(Entry);
  }
  // A walk that lost its counts has not met every processor, and the service says so.
  Expected.Status = Walk.LostItsCounts() ? EFI_DEVICE_ERROR : EFI_SUCCESS;
  return Expected;
}

}  // namespace sim
