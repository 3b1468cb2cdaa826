// The shared heap: byte buffers that the platform's drivers hand to one another by 32-bit handle.
#ifndef DRIVER_HEAP_H_
#define DRIVER_HEAP_H_

#include "arch/ImageNamespace.h"
#include "interfaces/HeapProtocol.h"

namespace CCX_IMAGE_NAMESPACE {

UINT32 HeapAllocateBuffer(HEAP_ALLOCATE_REQUEST *Request);
UINT32 HeapLocateBuffer(HEAP_LOCATE_REQUEST *Request);
// The first GUID extension HOB with that name, or null.
EFI_HOB_GUID_TYPE *HobFindGuid(const EFI_GUID *Name);
// Joins the heap list another driver published, or starts this driver's own and publishes it.
VOID HeapStartup();

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DRIVER_HEAP_H_
