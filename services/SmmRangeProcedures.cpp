#include "services/SmmRangeProcedures.h"

#include "arch/Msr.h"
#include "arch/Processor.h"
#include "driver/ImageState.h"
#include "driver/RunOnAps.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

template <typename Field>
VOID SetMsrField(UINT32 Msr, UINT64 Value) {
  AsmWriteMsr64(Msr, Field::Set(AsmReadMsr64(Msr), Value));
}

// The DRAM-routing bits of the fixed-range MTRRs only change while SYSCFG lets them.
VOID RouteAsegWindow(BOOLEAN ToDram) {
  SetMsrField<Msr::SysCfg::MtrrFixDramModEn>(Msr::SysCfg::Number, 1);
  const UINT64 Mtrr = AsmReadMsr64(Msr::MtrrFix16kA0000::Number);
  AsmWriteMsr64(Msr::MtrrFix16kA0000::Number, ToDram ? Mtrr | Msr::MtrrFix16kA0000::DramRoutingAllRanges
                                                     : Mtrr & ~Msr::MtrrFix16kA0000::DramRoutingAllRanges);
  SetMsrField<Msr::SysCfg::MtrrFixDramModEn>(Msr::SysCfg::Number, 0);
}

// The ASEG and TSEG valid bits change together, in one write.
VOID SetRangeChecks(UINT64 On) {
  const UINT64 Mask = AsmReadMsr64(Msr::SmmTsegMask::Number);
  AsmWriteMsr64(Msr::SmmTsegMask::Number, Msr::SmmTsegMask::AValid::Set(Msr::SmmTsegMask::TValid::Set(Mask, On), On));
}

}  // namespace

VOID EFIAPI CcxSmmSetRangeOnCore(VOID *Range) {
  const CCX_SMM_RANGE *Values = static_cast<const CCX_SMM_RANGE *>(Range);
  AsmWriteMsr64(Msr::SmmTsegBase::Number, Values->Base);
  AsmWriteMsr64(Msr::SmmTsegMask::Number, Values->Mask);
}

VOID EFIAPI CcxSmmOpenOnCore(VOID *Unused) {
  SetRangeChecks(0);
  RouteAsegWindow(TRUE);
}

VOID EFIAPI CcxSmmCloseOnCore(VOID *Unused) {
  SetRangeChecks(0);
  RouteAsegWindow(FALSE);
}

VOID EFIAPI CcxSmmLockOnCore(VOID *Unused) {
  // Nothing of SMRAM may stay in the caches once the range checks guard it.
  WriteBackInvalidateCaches();
  SetRangeChecks(1);
  if (gImage.SmmAccess.LockSetsHwcr) {
    UINT64 Hwcr = AsmReadMsr64(Msr::Hwcr::Number);
    Hwcr = Msr::Hwcr::SmmLock::Set(Hwcr, 1);
    Hwcr = Msr::Hwcr::SmmLockHigh::Set(Hwcr, 1);
    AsmWriteMsr64(Msr::Hwcr::Number, Hwcr);
  }
}

EFI_STATUS CcxSmmRunOnEveryCore(EFI_MP_SERVICES_PROTOCOL *MpServices, EFI_AP_PROCEDURE Procedure,
                                BOOLEAN SingleThread, VOID *Argument) {
  const EFI_STATUS Status = MpServices->StartupAllAPs(MpServices, Procedure, SingleThread, nullptr, 0, Argument, nullptr);
  Procedure(Argument);
  return AllApsStartFailure(Status);
}

}  // namespace CCX_IMAGE_NAMESPACE
