// Boot-services pool allocation for the driver's own buffers.
#ifndef ARCH_BOOT_POOL_H_
#define ARCH_BOOT_POOL_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

// EfiBootServicesData pool, not cleared; null on any error.
VOID *AllocateBootPool(UINTN Size);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // ARCH_BOOT_POOL_H_
