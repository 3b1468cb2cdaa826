// Work that runs on every processor through MP services, and the procedures it runs there.
#ifndef DRIVER_MP_SERVICES_WORK_H_
#define DRIVER_MP_SERVICES_WORK_H_

#include "arch/ImageNamespace.h"
#include "driver/RunOnAps.h"
#include "uefi/MpServices.h"

namespace CCX_IMAGE_NAMESPACE {

// The part of the initialization that needs MP services: SMRAM access with the SMM range on every
// processor, the BSP's SNP MSRs on every AP, each socket's PPIN and hook 0x03. Every processor
// that could not be given its part is named in a warning, and the result is the largest status of
// those failures (EFI_SUCCESS when every processor has its part, or when MP services are missing
// and nothing was done). The BSP's own refusal of a start, which MP services give by design, is
// no failure: the initialization stores socket 0's PPIN on the BSP itself.
EFI_STATUS CcxRellRunPerCoreWork();

// The same work as the notify function of MP services' installation. Nobody receives its status:
// the warnings are all that is left of a failure.
VOID EFIAPI CcxRellInitWithMpServices(EFI_EVENT Event, VOID *Context);

// AP procedures.
// Gives this processor the BSP's values of the SNP MSRs captured in gImage.MpWork.CcxSnpMsrList.
VOID EFIAPI CcxReplicateSnpMsrs(VOID *Argument);
// Stores this processor's PPIN in the configuration item of the socket *Argument (a UINTN). On an
// AP it stores through the configuration record the BSP resolved before starting it, so that no AP
// ever calls boot services, even to look for a configuration protocol that is missing.
VOID EFIAPI CcxStorePpin(VOID *Argument);
// Writes the UINT64 *Argument into this processor's P-state 0 definition.
VOID EFIAPI CcxWritePstate0(VOID *Argument);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DRIVER_MP_SERVICES_WORK_H_
