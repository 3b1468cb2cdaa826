// The SRAT processor entries. Every thread of the walk gets one structure carrying its APIC ID
// and the proximity domain of its complex; the domain is asked for once per complex. In x2APIC
// mode the 32-bit form holds any APIC ID. The local APIC form has one byte for it, and 255 is the
// broadcast ID, so threads numbered 255 or above cannot be described and are left out. A walk that
// a failed count query cut short is answered with an error: the entries written stay behind the
// cursor, but threads are missing from them.
#include "services/SratServices.h"

#include "driver/ImageState.h"
#include "interfaces/PcdAccess.h"
#include "services/CoreRegisters.h"
#include "services/TopologyWalk.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

// The PcdCcxApicMode value of a platform that runs its processors in x2APIC mode.
constexpr UINT8 kApicModeX2Apic = 2;
// The first APIC ID the local APIC structure cannot carry.
constexpr UINT32 kLocalApicIdLimit = 255;

VOID AppendX2ApicEntry(UINT8 **Cursor, UINT32 Domain, UINT32 ApicId) {
  auto *Entry = reinterpret_cast<EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY *>(*Cursor);
  Entry->Type = EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY_TYPE;
  Entry->Length = sizeof(*Entry);
  Entry->ProximityDomain = Domain;
  Entry->X2ApicId = ApicId;
  Entry->Flags |= EFI_ACPI_SRAT_AFFINITY_ENABLED;
  Entry->ClockDomain = 0;
  *Cursor += sizeof(*Entry);
}

// The local APIC structure splits the domain: its low byte leads, its upper three bytes follow
// the SAPIC EID, lowest first.
VOID AppendLocalApicEntry(UINT8 **Cursor, UINT32 Domain, UINT32 ApicId) {
  auto *Entry = reinterpret_cast<EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY *>(*Cursor);
  Entry->Type = EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY_TYPE;
  Entry->Length = sizeof(*Entry);
  Entry->ProximityDomain7To0 = static_cast<UINT8>(Domain);
  Entry->ApicId = static_cast<UINT8>(ApicId);
  Entry->Flags |= EFI_ACPI_SRAT_AFFINITY_ENABLED;
  Entry->LocalSapicEid = 0;
  Entry->ProximityDomain31To8[0] = static_cast<UINT8>(Domain >> 8);
  Entry->ProximityDomain31To8[1] = static_cast<UINT8>(Domain >> 16);
  Entry->ProximityDomain31To8[2] = static_cast<UINT8>(Domain >> 24);
  Entry->ClockDomain = 0;
  *Cursor += sizeof(*Entry);
}

}  // namespace

EFI_STATUS EFIAPI AddProcessorAffinityEntries(QORVEX_CCX_SRAT_SERVICES_PROTOCOL *This, VOID *TableHeader,
                                              UINT8 **Cursor) {
  if (Cursor == nullptr || *Cursor == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const UINT8 ApicMode = GetPcdProtocol()->Get8(PcdCcxApicMode);
  QORVEX_FABRIC_NUMA_SERVICES_PROTOCOL *Numa = gImage.Init.NumaServices;
  // A complex whose domain cannot be had keeps the domain of the complex before it, or 0 for the
  // first one.
  UINT32 Domain = 0;
  TOPOLOGY_POSITION At;
  for (;;) {
    const INTN Step = TopologyNextPosition(&At, gImage.Init.TopologyServices);
    if (Step == StepEnd) {
      return TopologyWalkResult("AddProcessorAffinityEntries", At);
    }
    if (Step <= StepComplex && Numa != nullptr) {
      // Only an answer the service vouches for replaces the domain held, whatever a failing
      // service may have left in its output.
      UINT32 Asked = Domain;
      if (!EFI_ERROR(Numa->GetProximityDomain(Numa, At.Socket, At.Die, At.ComplexDie, At.Complex, &Asked))) {
        Domain = Asked;
      }
    }
    const UINT32 ApicId = CcxGetApicIdAt(At);
    if (ApicMode == kApicModeX2Apic) {
      AppendX2ApicEntry(Cursor, Domain, ApicId);
    } else if (ApicId < kLocalApicIdLimit) {
      AppendLocalApicEntry(Cursor, Domain, ApicId);
    }
  }
}

const QORVEX_CCX_SRAT_SERVICES_PROTOCOL gCcxSratServicesProtocol = {
    QORVEX_CCX_SRAT_SERVICES_REVISION,
    AddProcessorAffinityEntries,
};

}  // namespace CCX_IMAGE_NAMESPACE
