#include "driver/MpServicesWork.h"

#include "arch/Msr.h"
#include "arch/Processor.h"
#include "debug/DebugPrint.h"
#include "debug/FatalStop.h"
#include "driver/ImageState.h"
#include "interfaces/PcdAccess.h"
#include "options/OptionHooks.h"
#include "services/SmmAccess2.h"
#include "services/TopologyWalk.h"
#include "uefi/StandardGuids.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

// Takes the BSP's SNP MSRs and hands them to every AP, so that all processors agree on the
// reverse-map table and on SYSCFG.
VOID ReplicateSnpMsrs(EFI_MP_SERVICES_PROTOCOL *Mp) {
  for (CCX_SNP_MSR_ENTRY &Entry : gImage.MpWork.CcxSnpMsrList) {
    Entry.Value = AsmReadMsr64(Entry.Msr);
  }
  const BOOLEAN SingleThread = GetPcdProtocol()->GetBool(PcdCcxRunApsSingleThreaded);
  Mp->StartupAllAPs(Mp, CcxReplicateSnpMsrs, SingleThread, nullptr, 0, nullptr, nullptr);
}

// Reads each socket's PPIN on the socket's first processor. MP services number the processors in
// walk order, so the position count is the processor number. Processor 0 is the BSP, which MP
// services refuse to start: socket 0 always shows the warning, and the initialization stores its
// PPIN on the BSP itself.
VOID StorePpinOfEverySocket(EFI_MP_SERVICES_PROTOCOL *Mp) {
  TOPOLOGY_POSITION At;
  UINTN Processor = 0;
  while (gImage.Init.TopologyServices != nullptr) {
    const INTN Step = TopologyNextPosition(&At, gImage.Init.TopologyServices);
    if (Step > StepThread) {
      break;
    }
    if (Step == StepSocket) {
      const EFI_STATUS Status = Mp->StartupThisAP(Mp, CcxStorePpin, Processor, nullptr, 0, &At.Socket, nullptr);
      if (EFI_ERROR(Status)) {
        PrintDebugMessage(TRACE_CPU, "   WARNING! Failed to store PPIN value for socket %d -- status = %x\n", At.Socket,
                          Status);
      }
    }
    Processor++;
  }
}

}  // namespace

VOID EFIAPI CcxRellInitWithMpServices(EFI_EVENT Event, VOID *Context) {
  EFI_MP_SERVICES_PROTOCOL *Mp = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gEfiMpServiceProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Mp)))) {
    return;
  }
  TestPoint(0xAC56);
  PrintDebugMessage(TRACE_CPU, "  CcxRellInitWithMpServices Entry\n");

  if (CcxSmmAccess2ProtocolInstall() != EFI_SUCCESS) {
    PrintDebugMessage(TRACE_CPU, "   WARNING! CcxSmmAccess2ProtocolInstall was not installed\n");
  }
  if (gImage.Init.SnpCapable != 0) {
    ReplicateSnpMsrs(Mp);
  }
  // The APs store PPINs through the configuration protocol; it is located here, on the BSP, so
  // that no AP ever has to call boot services to find it.
  GetPcdProtocol();
  StorePpinOfEverySocket(Mp);
  KtxHookFunc(KTX_HOOK_PER_CORE_INIT, nullptr);

  PrintDebugMessage(TRACE_CPU, "  CcxRellInitWithMpServices Exit\n");
  TestPoint(0xACE6);
}

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
