// Work that runs on every processor through MP services, and the procedures it runs there.
#ifndef DRIVER_MP_SERVICES_WORK_H_
#define DRIVER_MP_SERVICES_WORK_H_

#include "arch/ImageNamespace.h"
#include "driver/RunOnAps.h"
#include "uefi/MpServices.h"

namespace CCX_IMAGE_NAMESPACE {

// The part of the initialization that needs MP services; also their installation's notify function.
VOID EFIAPI CcxRellInitWithMpServices(EFI_EVENT Event, VOID *Context);

// AP procedures.
// Gives this processor the BSP's values of the SNP MSRs captured in gImage.MpWork.CcxSnpMsrList.
VOID EFIAPI CcxReplicateSnpMsrs(VOID *Argument);
// Stores this processor's PPIN in the configuration item of the socket *Argument (a UINTN).
VOID EFIAPI CcxStorePpin(VOID *Argument);
// Writes the UINT64 *Argument into this processor's P-state 0 definition.
VOID EFIAPI CcxWritePstate0(VOID *Argument);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DRIVER_MP_SERVICES_WORK_H_
