#include "driver/BootEvents.h"

#include "driver/ImageState.h"

namespace CCX_IMAGE_NAMESPACE {

// The handlers are not built yet; the down-core wrapper already closes its event after the check,
// so the check runs once per boot.
VOID EFIAPI CcxOcTriggerHandler(EFI_EVENT Event, VOID *Context) {}
VOID EFIAPI CcxRellOcCallback(EFI_EVENT Event, VOID *Context) {}
VOID EFIAPI CcxReadyToBoot(EFI_EVENT Event, VOID *Context) {}
VOID CcxCheckDownCoreStatus() {}

VOID EFIAPI CcxDownCoreNotify(EFI_EVENT Event, VOID *Context) {
  CcxCheckDownCoreStatus();
  gBS->CloseEvent(Event);
}

}  // namespace CCX_IMAGE_NAMESPACE
