#include "driver/MpServicesWork.h"

#include "arch/Msr.h"
#include "arch/Processor.h"
#include "debug/DebugPrint.h"
#include "debug/FatalStop.h"
#include "debug/TestPointCodes.h"
#include "driver/DriverEntry.h"
#include "driver/ImageState.h"
#include "interfaces/PcdAccess.h"
#include "options/OptionHooks.h"
#include "services/SmmAccess2.h"
#include "services/TopologyWalk.h"
#include "uefi/StandardGuids.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

// Takes the BSP's SNP MSRs and hands them to every AP, so that all processors agree on the
// reverse-map table and on SYSCFG. The result is the start's failure.
EFI_STATUS ReplicateSnpMsrs(EFI_MP_SERVICES_PROTOCOL *Mp) {
  for (CCX_SNP_MSR_ENTRY &Entry : gImage.MpWork.CcxSnpMsrList) {
    Entry.Value = AsmReadMsr64(Entry.Msr);
  }
  const BOOLEAN SingleThread = GetPcdProtocol()->GetBool(PcdCcxRunApsSingleThreaded);
  const EFI_STATUS Status =
      AllApsStartFailure(Mp->StartupAllAPs(Mp, CcxReplicateSnpMsrs, SingleThread, nullptr, 0, nullptr, nullptr));
  if (EFI_ERROR(Status)) {
    PrintDebugMessage(TRACE_CPU, "   WARNING! Failed to copy the SNP MSRs to the APs -- status = %r\n", Status);
  }
  return Status;
}

// Installs SMRAM access. A protocol that can't be installed is only warned about; the APs missing
// the SMM range of an installed protocol are a failure of the per-core work.
EFI_STATUS InstallSmramAccess() {
  EFI_STATUS RangeStatus = EFI_SUCCESS;
  if (CcxSmmAccess2ProtocolInstall(&RangeStatus) != EFI_SUCCESS) {
    PrintDebugMessage(TRACE_CPU, "   WARNING! CcxSmmAccess2ProtocolInstall was not installed\n");
  }
  if (EFI_ERROR(RangeStatus)) {
    PrintDebugMessage(TRACE_CPU, "   WARNING! Failed to set the SMM range on the APs -- status = %r\n", RangeStatus);
  }
  return RangeStatus;
}

// Reads each socket's PPIN on the socket's first processor. MP services number the processors in
// walk order, so the position count is the processor number. Processor 0 is the BSP, which MP
// services refuse to start: socket 0 always shows the warning, its refusal is no failure, and the
// initialization stores its PPIN on the BSP itself. A walk cut short by a failed count query
// leaves sockets without their PPIN, which is a failure too.
EFI_STATUS StorePpinOfEverySocket(EFI_MP_SERVICES_PROTOCOL *Mp) {
  TOPOLOGY_POSITION At;
  UINTN Processor = 0;
  EFI_STATUS Result = EFI_SUCCESS;
  if (gImage.Init.TopologyServices == nullptr) {
    return Result;
  }
  // The APs store through the configuration record resolved here, on the BSP, so that none of
  // them ever calls boot services to look for it.
  gImage.MpWork.ApPcd = GetPcdProtocol();
  for (;;) {
    const INTN Step = TopologyNextPosition(&At, gImage.Init.TopologyServices);
    if (Step > StepThread) {
      break;
    }
    if (Step == StepSocket) {
      const EFI_STATUS Status = Mp->StartupThisAP(Mp, CcxStorePpin, Processor, nullptr, 0, &At.Socket, nullptr);
      if (EFI_ERROR(Status)) {
        PrintDebugMessage(TRACE_CPU, "   WARNING! Failed to store PPIN value for socket %d -- status = %x\n", At.Socket,
                          Status);
        if (Processor != 0) {
          Result = LargerStatus(Result, Status);
        }
      }
    }
    Processor++;
  }
  gImage.MpWork.ApPcd = nullptr;
  return LargerStatus(Result, TopologyWalkResult("CcxRellInitWithMpServices", At));
}

}  // namespace

EFI_STATUS CcxRellRunPerCoreWork() {
  EFI_MP_SERVICES_PROTOCOL *Mp = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gEfiMpServiceProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Mp)))) {
    return EFI_SUCCESS;
  }
  TestPoint(TestPointCode::MpServicesEntry);
  PrintDebugMessage(TRACE_CPU, "  CcxRellInitWithMpServices Entry\n");

  EFI_STATUS Result = InstallSmramAccess();
  if (gImage.Init.SnpCapable != 0) {
    Result = LargerStatus(Result, ReplicateSnpMsrs(Mp));
  }
  Result = LargerStatus(Result, StorePpinOfEverySocket(Mp));
  KtxHookFunc(KTX_HOOK_PER_CORE_INIT, nullptr);

  PrintDebugMessage(TRACE_CPU, "  CcxRellInitWithMpServices Exit\n");
  TestPoint(TestPointCode::MpServicesExit);
  return Result;
}

VOID EFIAPI CcxRellInitWithMpServices(EFI_EVENT Event, VOID *Context) { CcxRellRunPerCoreWork(); }

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
    PCD_PROTOCOL *Pcd = gImage.MpWork.ApPcd != nullptr ? gImage.MpWork.ApPcd : GetPcdProtocol();
    Pcd->Set64(PcdCcxPpinSocket0 + Socket, Ppin);
  }
}

VOID EFIAPI CcxWritePstate0(VOID *Argument) {
  AsmWriteMsr64(Msr::PstateDef0::Number, *static_cast<const UINT64 *>(Argument));
}

}  // namespace CCX_IMAGE_NAMESPACE
