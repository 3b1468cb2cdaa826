#include "driver/Heap.h"

namespace CCX_IMAGE_NAMESPACE {

// The shared heap is not built yet: nothing can be allocated or found.
UINT32 HeapAllocateBuffer(HEAP_ALLOCATE_REQUEST *Request) { return HEAP_NO_MEMORY; }
UINT32 HeapLocateBuffer(HEAP_LOCATE_REQUEST *Request) {
  Request->Buffer = 0;
  Request->Size = 0;
  return HEAP_HANDLE_CONFLICT;
}
EFI_HOB_GUID_TYPE *HobFindGuid(const EFI_GUID *Name) { return nullptr; }
VOID HeapStartup() {}

}  // namespace CCX_IMAGE_NAMESPACE
