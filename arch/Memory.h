// Memory copy and fill primitives. All return the destination they were given.
#ifndef ARCH_MEMORY_H_
#define ARCH_MEMORY_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

// Copies Length bytes; safe for overlapping buffers.
VOID *CopyMemory(VOID *Destination, const VOID *Source, UINTN Length);
// Writes Length / 8 words repeating Value, then the remaining bytes.
VOID *SetMemory(VOID *Buffer, UINTN Length, UINT8 Value);
VOID *ZeroMemory(VOID *Buffer, UINTN Length);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // ARCH_MEMORY_H_
