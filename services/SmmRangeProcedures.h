// The per-core halves of the SMRAM access protocol: what each logical processor does to its own
// SMM range registers and to the routing of the legacy SMRAM window, and how a step reaches every
// processor.
#ifndef SERVICES_SMM_RANGE_PROCEDURES_H_
#define SERVICES_SMM_RANGE_PROCEDURES_H_

#include "arch/ImageNamespace.h"
#include "uefi/MpServices.h"

namespace CCX_IMAGE_NAMESPACE {

// The argument of CcxSmmSetRangeOnCore.
struct CCX_SMM_RANGE {
  UINT64 Base;
  UINT64 Mask;
};

// Writes the TSEG base and mask.
VOID EFIAPI CcxSmmSetRangeOnCore(VOID *Range);
// Turns the range checks off and routes 0xA0000-0xBFFFF to DRAM for reads and writes.
VOID EFIAPI CcxSmmOpenOnCore(VOID *Unused);
// Turns the range checks off and routes 0xA0000-0xBFFFF away from DRAM.
VOID EFIAPI CcxSmmCloseOnCore(VOID *Unused);
// Flushes the caches and turns the ASEG and TSEG range checks on; sets the HWCR lock bits when
// the platform asks for it.
VOID EFIAPI CcxSmmLockOnCore(VOID *Unused);

// Runs Procedure on every application processor through MP services, then on the bootstrap
// processor. A core that missed the step can't be repaired from here, but it is not passed off
// as done: the result is the failure of the start on the APs (EFI_SUCCESS when they all ran it,
// or when there are none), and the caller reports it.
EFI_STATUS CcxSmmRunOnEveryCore(EFI_MP_SERVICES_PROTOCOL *MpServices, EFI_AP_PROCEDURE Procedure,
                                BOOLEAN SingleThread, VOID *Argument);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // SERVICES_SMM_RANGE_PROCEDURES_H_
