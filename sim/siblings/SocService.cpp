#include "sim/siblings/SocService.h"

namespace sim {
namespace {

SocService &OwnerOf(QORVEX_SOC_SERVICES_PROTOCOL *This) { return *reinterpret_cast<SocServiceRecord *>(This)->Owner; }

EFI_STATUS EFIAPI GetMaxCoreFid(QORVEX_SOC_SERVICES_PROTOCOL *This, UINT16 *Value) {
  return OwnerOf(This).MaxCoreFid(Value);
}
EFI_STATUS EFIAPI GetCoreCountInfo(QORVEX_SOC_SERVICES_PROTOCOL *This, UINT32 *PresentMask, UINT32 *CoreDisableMask,
                                   UINT32 *CoresPerComplexDie, BOOLEAN *Smt) {
  return OwnerOf(This).CoreCountInfo(PresentMask, CoreDisableMask, CoresPerComplexDie, Smt);
}
EFI_STATUS EFIAPI GetOcMessageTable(QORVEX_SOC_SERVICES_PROTOCOL *This, const SOC_OC_MESSAGE_TABLE **Table) {
  return OwnerOf(This).OcMessageTable(Table);
}
EFI_STATUS EFIAPI GetDieCoreInfo(QORVEX_SOC_SERVICES_PROTOCOL *This, UINT32 DieIndex, UINT32 *PresentMask,
                                 UINT32 *DisableMask, UINT32 *CoreDisableMasks, UINT32 *ArrayBytes,
                                 UINT32 *CoresPerComplexDie, BOOLEAN *Smt, UINT32 *ArrayEntries) {
  return OwnerOf(This).DieCoreInfo(DieIndex, PresentMask, DisableMask, CoreDisableMasks, ArrayBytes,
                                   CoresPerComplexDie, Smt, ArrayEntries);
}

uint32_t LowBits(uint32_t Count) { return Count >= 32 ? 0xFFFFFFFFu : (1u << Count) - 1; }

}  // namespace

SocService::SocService(const Topology &Shape, const SocSettings &Settings, FaultInjector &Faults)
    : Shape_(Shape), Settings_(Settings), Faults_(Faults) {
  Record_.Protocol = {1, sim::GetMaxCoreFid, sim::GetCoreCountInfo, sim::GetOcMessageTable, sim::GetDieCoreInfo};
  Record_.Owner = this;
  const OcMessageSettings &Messages = Settings.OcMessages;
  OcMessages_ = {Messages.Revision, Messages.First, Messages.Voltage, Messages.Frequency};
}

// The table lives as long as the service; a machine without one hands back null.
EFI_STATUS SocService::OcMessageTable(const SOC_OC_MESSAGE_TABLE **Table) {
  if (Table == nullptr) return EFI_INVALID_PARAMETER;
  if (auto Status = Faults_.Call(SiblingQuery::SocOcMessageTable)) return *Status;
  *Table = Settings_.OcMessages.Present ? &OcMessages_ : nullptr;
  return EFI_SUCCESS;
}

uint32_t SocService::CoresPerComplexDie() const {
  return Shape_.MaxCount(TopologyLevel::Complex) * Shape_.MaxCount(TopologyLevel::Core);
}

uint32_t SocService::CoreDisableMask(const TopologyPosition &ComplexDie) const {
  const uint32_t Slots = Shape_.MaxCount(TopologyLevel::Core);
  uint32_t Mask = 0;
  for (uint32_t Complex = 0; Complex < Shape_.MaxCount(TopologyLevel::Complex); Complex++) {
    TopologyPosition Holder = ComplexDie;
    Holder.Complex = Complex;
    const uint32_t Running =
        Complex < Shape_.Count(TopologyLevel::Complex, ComplexDie) ? Shape_.Count(TopologyLevel::Core, Holder) : 0;
    Mask |= (LowBits(Slots) & ~LowBits(Running)) << (Complex * Slots);
  }
  return Mask;
}

bool SocService::SmtEnabled() const {
  return Settings_.Smt.value_or(Shape_.MaxCount(TopologyLevel::Thread) > 1);
}

EFI_STATUS SocService::MaxCoreFid(UINT16 *Value) {
  if (auto Status = Faults_.Call(SiblingQuery::SocMaxCoreFid)) return *Status;
  if (Value == nullptr) return EFI_INVALID_PARAMETER;
  *Value = Settings_.MaxCoreFid;
  return EFI_SUCCESS;
}

// The package's counts are those of its first complex die: every complex die is built alike.
EFI_STATUS SocService::CoreCountInfo(UINT32 *PresentMask, UINT32 *CoreDisable, UINT32 *CoresPerDie,
                                     BOOLEAN *Smt) {
  if (auto Status = Faults_.Call(SiblingQuery::SocCoreCountInfo)) return *Status;
  if (PresentMask == nullptr || CoreDisable == nullptr || CoresPerDie == nullptr || Smt == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *PresentMask = LowBits(Shape_.Count(TopologyLevel::ComplexDie, TopologyPosition{}));
  *CoreDisable = CoreDisableMask(TopologyPosition{});
  *CoresPerDie = CoresPerComplexDie();
  *Smt = SmtEnabled() ? TRUE : FALSE;
  return EFI_SUCCESS;
}

EFI_STATUS SocService::DieCoreInfo(UINT32 DieIndex, UINT32 *PresentMask, UINT32 *DisableMask,
                                   UINT32 *CoreDisableMasks, UINT32 *ArrayBytes, UINT32 *CoresPerDie,
                                   BOOLEAN *Smt, UINT32 *ArrayEntries) {
  if (auto Status = Faults_.Call(SiblingQuery::SocDieCoreInfo)) return *Status;
  if (PresentMask == nullptr || DisableMask == nullptr || CoreDisableMasks == nullptr || ArrayBytes == nullptr ||
      CoresPerDie == nullptr || Smt == nullptr || ArrayEntries == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  TopologyPosition Die;
  Die.Socket = DieIndex / SOC_DIES_PER_SOCKET;
  Die.Die = DieIndex % SOC_DIES_PER_SOCKET;
  if (Die.Socket >= Shape_.Count(TopologyLevel::Socket) || Die.Die >= Shape_.Count(TopologyLevel::Die, Die)) {
    return EFI_INVALID_PARAMETER;
  }
  const uint32_t ComplexDies = Shape_.Count(TopologyLevel::ComplexDie, Die);
  if (*ArrayEntries < ComplexDies || *ArrayBytes < ComplexDies * sizeof(UINT32)) return EFI_BUFFER_TOO_SMALL;
  *PresentMask = LowBits(ComplexDies);
  *DisableMask = 0;
  for (uint32_t Index = 0; Index < *ArrayEntries && Index * sizeof(UINT32) < *ArrayBytes; Index++) {
    TopologyPosition ComplexDie = Die;
    ComplexDie.ComplexDie = Index;
    CoreDisableMasks[Index] = Index < ComplexDies ? CoreDisableMask(ComplexDie) : 0;
  }
  *CoresPerDie = CoresPerComplexDie();
  *Smt = SmtEnabled() ? TRUE : FALSE;
  return EFI_SUCCESS;
}

}  // namespace sim
