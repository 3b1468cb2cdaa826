// Compute-unit entries: one per run of consecutive complexes in walk order that share a proximity
// domain, counting the threads of the run. A complex whose domain the NUMA service cannot give
// belongs to the run before it; only the first complex has no run to fall back on.
#include "services/ResourceAffinityServices.h"

#include "debug/FatalStop.h"
#include "driver/ImageState.h"
#include "services/CoreRegisters.h"
#include "services/TopologyWalk.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kNoDomain = 0xFFFFFFFF;

}  // namespace

EFI_STATUS EFIAPI AddComputeUnitEntries(QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL *This,
                                        CCX_RESOURCE_AFFINITY_TABLE_HEADER *TableHeader, UINT8 **Cursor) {
  if (TableHeader == nullptr || Cursor == nullptr || *Cursor == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  QORVEX_FABRIC_NUMA_SERVICES_PROTOCOL *Numa = gImage.Init.NumaServices;
  UINT32 Domain = kNoDomain;
  UINT32 PreviousDomain = kNoDomain;
  CCX_AFFINITY_COMPUTE_UNIT_ENTRY *Current = nullptr;
  TOPOLOGY_POSITION At;
  for (;;) {
    const INTN Step = TopologyNextPosition(&At, gImage.Init.TopologyServices);
    if (Step == StepEnd) {
      return TopologyWalkResult("AddComputeUnitEntries", At);
    }
    if (Step <= StepComplex) {
      UINT32 Asked = Domain;
      if (Numa != nullptr && !EFI_ERROR(Numa->GetProximityDomain(Numa, At.Socket, At.Die, At.ComplexDie, At.Complex, &Asked))) {
        Domain = Asked;
      }
      if (Domain != PreviousDomain) {
        auto *Entry = reinterpret_cast<CCX_AFFINITY_COMPUTE_UNIT_ENTRY *>(
            AppendAffinityEntry(CCX_AFFINITY_TYPE_COMPUTE_UNIT, TableHeader, Cursor));
        if (Entry != nullptr) {
          Entry->Flags |= CCX_AFFINITY_COMPUTE_UNIT_FLAGS;
          Entry->ProximityDomain = Domain;
          Entry->ApicId = CcxGetApicId(At.Socket, At.Die, At.ComplexDie, At.Complex, 0, 0);
          Entry->ThreadCount = 0;
          Entry->Byte28 = CCX_AFFINITY_COMPUTE_UNIT_BYTE28;
          Current = Entry;
        }
        PreviousDomain = Domain;
      }
    }
    if (Current == nullptr) {
      if (Domain == kNoDomain) {
        FatalStop(kFatalAffinityNoDomain);
      }
      return EFI_NO_MAPPING;
    }
    Current->ThreadCount++;
  }
}

}  // namespace CCX_IMAGE_NAMESPACE
