#include "driver/BootEvents.h"

#include "debug/DebugPrint.h"
#include "debug/FatalStop.h"
#include "debug/TestPointCodes.h"
#include "driver/Heap.h"
#include "driver/ImageState.h"
#include "interfaces/CcxOcProtocols.h"
#include "interfaces/QorvexGuids.h"
#include "options/OptionHooks.h"
#include "uefi/SmmControl2.h"
#include "uefi/StandardGuids.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT8 kReadyToBootSmiCommand = 0xEE;
constexpr CHAR16 kDownCoreStatusName[] = u"DownCoreStatus";
constexpr UINT32 kDownCoreStatusAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;

// Runs the overclocking hook and tells the platform it is done. A new completion instance goes
// on a new handle every time, so each run is announced even when an earlier one is still there.
VOID RunOverclockingHookAndAnnounce() {
  KtxHookFunc(KTX_HOOK_OVERCLOCKING, nullptr);
  gImage.BootEvents.OcCompletionWord = QORVEX_CCX_OC_COMPLETE_VALUE;
  EFI_HANDLE Handle = nullptr;
  gBS->InstallProtocolInterface(&Handle, &gQorvexCcxOcCompleteProtocolGuid, EFI_NATIVE_INTERFACE,
                                &gImage.BootEvents.OcCompletionWord);
}

}  // namespace

// The custom P-state 0 is written on every core, so the hook needs MP services; without them the
// work waits for their installation.
VOID EFIAPI CcxOcTriggerHandler(EFI_EVENT Event, VOID *Context) {
  VOID *MpServices = nullptr;
  if (!EFI_ERROR(gBS->LocateProtocol(&gEfiMpServiceProtocolGuid, nullptr, &MpServices))) {
    TestPoint(TestPointCode::OverclockingEntry);
    RunOverclockingHookAndAnnounce();
    TestPoint(TestPointCode::OverclockingExit);
    return;
  }
  gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, CcxRellOcCallback, nullptr, nullptr,
                     &gImage.BootEvents.MpWaitEvent);
  gBS->RegisterProtocolNotify(&gEfiMpServiceProtocolGuid, gImage.BootEvents.MpWaitEvent,
                              &gImage.BootEvents.MpWaitRegistration);
}

VOID EFIAPI CcxRellOcCallback(EFI_EVENT Event, VOID *Context) {
  TestPoint(TestPointCode::OverclockingEntry);
  PrintDebugMessage(TRACE_CPU, "  CcxRellOcCallback Entry\n");
  RunOverclockingHookAndAnnounce();
  PrintDebugMessage(TRACE_CPU, "  CcxRellOcCallback Exit\n");
  TestPoint(TestPointCode::OverclockingExit);
}

// Without the SMM control protocol nothing can tell SMM that the boot is about to leave the
// firmware, so the event stays armed for a later signal of the group.
VOID EFIAPI CcxReadyToBoot(EFI_EVENT Event, VOID *Context) {
  PrintDebugMessage(TRACE_CPU, "  CcxReadyToBoot");
  TestPoint(TestPointCode::ReadyToBootEntry);
  EFI_SMM_CONTROL2_PROTOCOL *SmmControl = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gEfiSmmControl2ProtocolGuid, nullptr, reinterpret_cast<VOID **>(&SmmControl)))) {
    return;
  }
  UINT8 Command = kReadyToBootSmiCommand;
  SmmControl->Trigger(SmmControl, &Command, nullptr, FALSE, 0);
  gBS->CloseEvent(Event);
  KtxHookFunc(KTX_HOOK_READY_TO_BOOT, nullptr);
  TestPoint(TestPointCode::ReadyToBootExit);
}

// The variable remembers whether the last boot was down-cored. Coming back to all cores from a
// down-cored boot needs a cold reset before the cores are usable again.
VOID CcxCheckDownCoreStatus() {
  PrintDebugMessage(TRACE_CPU, "  CcxCheckDownCoreStatus Entry\n");
  HEAP_LOCATE_REQUEST Request = {};
  Request.Handle = HEAP_HANDLE_DOWN_CORE;
  UINT8 Current = HeapLocateBuffer(&Request) == HEAP_SUCCESS ? 1 : 0;

  UINT8 Stored = 0;
  UINTN Size = sizeof(Stored);
  const EFI_STATUS Status = gRT->GetVariable(const_cast<CHAR16 *>(kDownCoreStatusName),
                                             &gQorvexDownCoreStatusVariableGuid, nullptr, &Size, &Stored);
  if (Stored != Current || Status != EFI_SUCCESS) {
    gRT->SetVariable(const_cast<CHAR16 *>(kDownCoreStatusName), &gQorvexDownCoreStatusVariableGuid,
                     kDownCoreStatusAttributes, sizeof(Current), &Current);
    if (Stored != 0 && Current == 0) {
      PrintDebugMessage(TRACE_CPU, "  downcored -> auto, issuing cold reset\n");
      gRT->ResetSystem(EfiResetCold, EFI_SUCCESS, 0, nullptr);
    }
  }
  PrintDebugMessage(TRACE_CPU, "  CcxCheckDownCoreStatus Exit\n");
}

VOID EFIAPI CcxDownCoreNotify(EFI_EVENT Event, VOID *Context) {
  CcxCheckDownCoreStatus();
  gBS->CloseEvent(Event);
}

}  // namespace CCX_IMAGE_NAMESPACE
