// Hook dispatch: the driver's local handlers first, the option service for whatever they leave.
#include "options/OptionHooks.h"

#include "debug/DebugPrint.h"
#include "debug/FatalStop.h"
#include "driver/ImageState.h"
#include "interfaces/QorvexGuids.h"
#include "interfaces/ZrbOptionHook.h"
#include "options/HookTable.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kFatalBadHookHeader = 0x20910056;

}  // namespace

UINT32 KtxCallOptionService(UINT32 HookId, VOID *Params) {
  QORVEX_ZRB_OPTION_HOOK_PROTOCOL *Service = nullptr;
  const EFI_STATUS Located =
      gBS->LocateProtocol(&gQorvexZrbOptionHookProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Service));
  if (EFI_ERROR(Located) || Service == nullptr) {
    return KTX_SERVICE_FAILURE;
  }
  ZRB_OPTION_HOOK_REQUEST Request = {0, Params};
  const EFI_STATUS Status = Service->ZrbOptionHook(gBS, &Request, HookId, Service);
  return EFI_ERROR(Status) ? KTX_SERVICE_FAILURE : KTX_SUCCESS;
}

UINT32 KtxDispatchHook(const KTX_HOOK_HEADER *Header, UINT32 HookId) {
  // A header that fails its check leaves the table untrusted: the hook goes to the option service.
  if (Header->Signature != KTX_HOOK_SIGNATURE || Header->Version != KTX_HOOK_VERSION) {
    FatalStop(kFatalBadHookHeader);
    return KtxCallOptionService(HookId, nullptr);
  }
  bool Matched = false;
  UINT32 Status = KTX_HANDLED_LOCALLY;
  for (const KTX_HOOK_ENTRY *Entry = Header->Table; Entry != nullptr && Entry->HookId != KTX_HOOK_TABLE_END;
       Entry++) {
    if (Entry->HookId != HookId) {
      continue;
    }
    Matched = true;
    PrintDebugMessage(TRACE_HOOK, "KtxHookFunc HookId %x\n", UINT64{HookId});
    const UINT32 HandlerStatus = Entry->Slot.Handler(HookId, nullptr, nullptr);
    if (HandlerStatus != KTX_SUCCESS) {
      Status = HandlerStatus;
    }
  }
  if (!Matched || Status == KTX_NOT_HANDLED) {
    return KtxCallOptionService(HookId, nullptr);
  }
  return Status;
}

UINT32 KtxHookFunc(UINT32 HookId, VOID *Data) { return KtxDispatchHook(&gKtxHookHeader, HookId); }

}  // namespace CCX_IMAGE_NAMESPACE
