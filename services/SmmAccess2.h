// EFI_SMM_ACCESS2_PROTOCOL for the platform's SMRAM: the installer that programs the SMM range on
// every core from the pre-memory phase's SMRAM description, and the protocol's four functions.
#ifndef SERVICES_SMM_ACCESS2_H_
#define SERVICES_SMM_ACCESS2_H_

#include "arch/ImageNamespace.h"
#include "uefi/SmmAccess2.h"

namespace CCX_IMAGE_NAMESPACE {

// Copies the SMRAM map from its HOB, writes the SMM range registers on every processor and
// installs the protocol on a new handle. Called once, when MP services are there. EFI_NOT_FOUND
// without MP services or without a usable SMRAM HOB, EFI_OUT_OF_RESOURCES without pool for the
// map; on either nothing is written and nothing installed. *RangeStatus, when asked for, receives
// the failure of the start that gives the APs the SMM range (EFI_SUCCESS when they all took it,
// or when nothing was written): the protocol is installed either way, with the BSP's range set.
EFI_STATUS CcxSmmAccess2ProtocolInstall(EFI_STATUS *RangeStatus = nullptr);

// Open, Close and Lock change the region states and run their step on every core. When the APs
// can't be started the BSP still takes the step and the states still change, but the answer is
// EFI_DEVICE_ERROR: the cores no longer agree.
EFI_STATUS EFIAPI CcxSmmOpen2(EFI_SMM_ACCESS2_PROTOCOL *This);
EFI_STATUS EFIAPI CcxSmmClose2(EFI_SMM_ACCESS2_PROTOCOL *This);
EFI_STATUS EFIAPI CcxSmmLock2(EFI_SMM_ACCESS2_PROTOCOL *This);
EFI_STATUS EFIAPI CcxSmmGetCapabilities2(CONST EFI_SMM_ACCESS2_PROTOCOL *This, UINTN *SmramMapSize,
                                         EFI_SMRAM_DESCRIPTOR *SmramMap);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // SERVICES_SMM_ACCESS2_H_
