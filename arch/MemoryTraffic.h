// Tells the platform how many bytes the memory primitives filled or copied. A host build hands the
// counts to the simulator's accounting; the firmware build compiles them to nothing, so the
// delivered image pays no more than an empty call.
#ifndef ARCH_MEMORY_TRAFFIC_H_
#define ARCH_MEMORY_TRAFFIC_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

VOID NoteMemoryFilled(UINTN Length);
VOID NoteMemoryCopied(UINTN Length);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // ARCH_MEMORY_TRAFFIC_H_
