// Work that runs on every processor through MP services, and the procedures it runs there.
#ifndef DRIVER_MP_SERVICES_WORK_H_
#define DRIVER_MP_SERVICES_WORK_H_

#include "arch/ImageNamespace.h"
#include "uefi/MpServices.h"

namespace CCX_IMAGE_NAMESPACE {

// The part of the initialization that needs MP services; also their installation's notify function.
VOID EFIAPI CcxRellInitWithMpServices(EFI_EVENT Event, VOID *Context);
// Runs Procedure on all APs (level 0) or on the first thread of every complex (level 2).
EFI_STATUS CcxRunFunctionOnAps(UINT32 Level, EFI_AP_PROCEDURE Procedure, VOID *Argument);

// AP procedures.
VOID EFIAPI CcxReplicateSnpMsrs(VOID *Argument);
// Stores this processor's PPIN in the configuration item of the socket *Argument (a UINTN).
VOID EFIAPI CcxStorePpin(VOID *Argument);
VOID EFIAPI CcxWritePstate0(VOID *Argument);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DRIVER_MP_SERVICES_WORK_H_
