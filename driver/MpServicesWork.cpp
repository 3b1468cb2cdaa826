#include "driver/MpServicesWork.h"

#include "arch/Msr.h"
#include "arch/Processor.h"
#include "driver/ImageState.h"
#include "interfaces/PcdAccess.h"

namespace CCX_IMAGE_NAMESPACE {

// The per-core initialization is not built yet.
VOID EFIAPI CcxRellInitWithMpServices(EFI_EVENT Event, VOID *Context) {}
EFI_STATUS CcxRunFunctionOnAps(UINT32 Level, EFI_AP_PROCEDURE Procedure, VOID *Argument) { return EFI_UNSUPPORTED; }

VOID EFIAPI CcxReplicateSnpMsrs(VOID *Argument) {
  for (const CCX_SNP_MSR_ENTRY &Entry : gImage.MpWork.CcxSnpMsrList) {
    const UINT64 Mask = Entry.Mask;
    const UINT64 Value = (AsmReadMsr64(Entry.Msr) & ~Mask) | (Entry.Value & Mask);
    AsmWriteMsr64(Entry.Msr, Value);
  }
}

VOID EFIAPI CcxStorePpin(VOID *Argument) {
  if (!Msr::PpinCtl::PpinEnable::IsSet(AsmReadMsr64(Msr::PpinCtl::Number))) {
    return;
  }
  const UINT64 Ppin = AsmReadMsr64(Msr::Ppin::Number);
  const UINTN Socket = *static_cast<const UINTN *>(Argument);
  // Only sockets 0 to 3 have an item.
  if (Socket <= 3) {
    GetPcdProtocol()->Set64(PcdCcxPpinSocket0 + Socket, Ppin);
  }
}

VOID EFIAPI CcxWritePstate0(VOID *Argument) {
  AsmWriteMsr64(Msr::PstateDef0::Number, *static_cast<const UINT64 *>(Argument));
}

}  // namespace CCX_IMAGE_NAMESPACE
