// The driver's entry point, its library start-up and the initialization sequence.
#ifndef DRIVER_DRIVER_ENTRY_H_
#define DRIVER_DRIVER_ENTRY_H_

#include "arch/ImageNamespace.h"
#include "uefi/SystemTable.h"

namespace CCX_IMAGE_NAMESPACE {

// Runs the library start-up, then the initialization; on an error closes the S3 library's events.
// Returns the initialization's status unchanged.
EFI_STATUS EFIAPI CcxRellDxeEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// The library constructors in their fixed order. Every driver that links the shared libraries runs
// it; its result is not looked at.
VOID EFIAPI CcxLibraryStartup(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// Fills TEST_POINT_CONFIG with its defaults when both PCD protocols are there.
VOID QorvexCfgPcdBufLibDxeConstructor();

// The initialization sequence.
EFI_STATUS QorvexCcxRellDxeInit(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

// The status rule of every sequence that goes on after failures: the larger status, compared as
// unsigned 64-bit numbers, so that any error beats success and warnings.
constexpr EFI_STATUS LargerStatus(EFI_STATUS Running, EFI_STATUS New) { return New > Running ? New : Running; }

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DRIVER_DRIVER_ENTRY_H_
