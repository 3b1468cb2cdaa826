// The security coprocessor's (Hcu) MMIO registers and the two-party mutex that x86 code holds
// with the coprocessor around every change of the SMM configuration.
#ifndef SERVICES_HCU_MAILBOX_H_
#define SERVICES_HCU_MAILBOX_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

// The coprocessor's 32-bit MMIO base as its sideband register reports it; 0 when the coprocessor
// is not available.
UINT32 GetHcuMmioBase();
// A 32-bit register at Offset in the coprocessor's MMIO block. Without the coprocessor the read
// gives 0xFFFFFFFF and the write does nothing; both log an error.
UINT32 HcuMmioRead32(UINT32 Offset);
VOID HcuMmioWrite32(UINT32 Offset, UINT32 Value);

// The x86 side of the Peterson mutex in the coprocessor's mailbox. Without the coprocessor both
// do nothing: there is nobody to exclude.
VOID HcuMutexAcquire();
VOID HcuMutexRelease();

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // SERVICES_HCU_MAILBOX_H_
