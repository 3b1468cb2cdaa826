// Fills the function slots of the boot-services and runtime-services tables with the EFIAPI
// thunks of this library. Each function fills the slots of one group of services.
#ifndef SIM_UEFI_SERVICE_SLOTS_H_
#define SIM_UEFI_SERVICE_SLOTS_H_

#include "uefi/SystemTable.h"

namespace sim {

void FillMemoryServices(EFI_BOOT_SERVICES &table);
void FillEventServices(EFI_BOOT_SERVICES &table);
void FillProtocolServices(EFI_BOOT_SERVICES &table);
void FillMiscellaneousServices(EFI_BOOT_SERVICES &table);
void FillRuntimeServices(EFI_RUNTIME_SERVICES &table);

}  // namespace sim

#endif  // SIM_UEFI_SERVICE_SLOTS_H_
