// The sibling protocols ccxsim offers, installed in the firmware as proxies whose every function
// forwards its call to ccxsim, and the machine's HOBs added to the firmware's HOB list.
#ifndef FIRMWARE_OVMF_PROXIES_H_
#define FIRMWARE_OVMF_PROXIES_H_

#include "uefi/SystemTable.h"

namespace ccx_ovmf {

// Asks ccxsim which sibling protocols arrive once What has happened ("start", "entry", ...) and
// installs them. Returns the first failing status.
EFI_STATUS Arrive(EFI_BOOT_SERVICES *Boot, const char *What);

// Installs a copy of the firmware's HOB list with the machine's GUID HOBs before its end.
EFI_STATUS AddMachineHobs(EFI_SYSTEM_TABLE *SystemTable);

}  // namespace ccx_ovmf

#endif  // FIRMWARE_OVMF_PROXIES_H_
