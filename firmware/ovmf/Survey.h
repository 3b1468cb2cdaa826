// What the firmware holds after the boot that the report shows: the protocols installed since the
// package started, the variables written or changed, the SMM core's phase, where the heap's record
// lies and the memory map. The baseline is taken when the package starts; the survey sends what
// differs from it to ccxsim.
#ifndef FIRMWARE_OVMF_SURVEY_H_
#define FIRMWARE_OVMF_SURVEY_H_

#include "uefi/SystemTable.h"

namespace ccx_ovmf {

// Remembers every handle and every variable the firmware has now.
EFI_STATUS TakeBaseline(EFI_SYSTEM_TABLE *SystemTable);

// Plays the SMM core's phase through the driver's SMM access protocol, recording each call for the
// survey: it opens SMRAM to load itself, closes it and locks it before anything is booted.
VOID RunSmmCorePhase(EFI_BOOT_SERVICES *Boot);

// Sends the survey.
VOID SendSurvey(EFI_SYSTEM_TABLE *SystemTable);

}  // namespace ccx_ovmf

#endif  // FIRMWARE_OVMF_SURVEY_H_
