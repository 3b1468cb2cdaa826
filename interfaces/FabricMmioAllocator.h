// QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL: reserves windows of the fabric's MMIO space so that no
// two components route the same addresses. The argument order of each call is this platform's.
#ifndef INTERFACES_FABRIC_MMIO_ALLOCATOR_H_
#define INTERFACES_FABRIC_MMIO_ALLOCATOR_H_

#include "uefi/Base.h"

// Which part of the fabric a window is taken from, one bit per target, as a 32-bit value.
typedef UINT32 FABRIC_MMIO_TARGET;
// The attributes of a window, one byte whose bits the allocator defines.
typedef UINT8 FABRIC_MMIO_ATTRIBUTES;

typedef struct _QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL;

struct _QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL {
  // Slots 1 and 2: the record's revision and a query this driver never uses.
  UINT64 Revision;
  EFI_STATUS(EFIAPI *GetAvailableMmio)(IN QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL *This, IN FABRIC_MMIO_TARGET Target,
                                       OUT UINT64 *Base, OUT UINT64 *Size);
  // Slot 3: reserves a window of *Length bytes aligned to AlignmentMask + 1. A non-error status
  // means the window is reserved; *BaseAddress receives where it lies.
  EFI_STATUS(EFIAPI *AllocateMmio)(IN QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL *This, IN OUT UINT64 *BaseAddress,
                                   IN OUT UINT64 *Length, IN UINT64 AlignmentMask, IN FABRIC_MMIO_TARGET Target,
                                   IN OUT FABRIC_MMIO_ATTRIBUTES *Attributes);
};
static_assert(offsetof(QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL, AllocateMmio) == 2 * 8,
              "AllocateMmio is the second function");

#endif  // INTERFACES_FABRIC_MMIO_ALLOCATOR_H_
