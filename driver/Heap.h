// The shared heap: byte buffers that the platform's drivers hand to one another by 32-bit handle.
#ifndef DRIVER_HEAP_H_
#define DRIVER_HEAP_H_

#include "arch/ImageNamespace.h"
#include "driver/HobList.h"
#include "interfaces/HeapProtocol.h"

namespace CCX_IMAGE_NAMESPACE {

// Makes a zero-filled buffer of Request->Size bytes under Request->Handle and returns its data
// address in Request->Buffer. Results: HEAP_SUCCESS, HEAP_BAD_PERSISTENCE (Buffer untouched),
// HEAP_HANDLE_CONFLICT (the handle exists; Buffer untouched), HEAP_NO_MEMORY (Buffer null).
UINT32 HeapAllocateBuffer(HEAP_ALLOCATE_REQUEST *Request);
// Finds the oldest buffer with Request->Handle: HEAP_SUCCESS with its size and data address, or
// HEAP_HANDLE_CONFLICT with both outputs cleared.
UINT32 HeapLocateBuffer(HEAP_LOCATE_REQUEST *Request);
// Joins the heap list another driver published, or starts this driver's own list, restores the
// buffers the pre-memory phase handed over in heap HOBs, and publishes it.
VOID HeapStartup();

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DRIVER_HEAP_H_
