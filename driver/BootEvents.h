// What runs when the boot events fire: the overclocking trigger, ready-to-boot, and the down-core
// check with its notify wrapper.
#ifndef DRIVER_BOOT_EVENTS_H_
#define DRIVER_BOOT_EVENTS_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

VOID EFIAPI CcxOcTriggerHandler(EFI_EVENT Event, VOID *Context);
VOID EFIAPI CcxRellOcCallback(EFI_EVENT Event, VOID *Context);
VOID EFIAPI CcxReadyToBoot(EFI_EVENT Event, VOID *Context);
VOID EFIAPI CcxDownCoreNotify(EFI_EVENT Event, VOID *Context);
VOID CcxCheckDownCoreStatus();

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DRIVER_BOOT_EVENTS_H_
