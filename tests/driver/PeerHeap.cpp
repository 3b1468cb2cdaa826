// Compiled in the peer image's namespace (see CMakeLists.txt).
#include "tests/driver/PeerHeap.h"

#include "driver/Heap.h"
#include "driver/ImageState.h"

namespace peerheap {

void Start(EFI_SYSTEM_TABLE *SystemTable) {
  CCX_IMAGE_NAMESPACE::ImageLoad();
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  CCX_IMAGE_NAMESPACE::HeapStartup();
}

UINT32 Allocate(HEAP_ALLOCATE_REQUEST *Request) { return CCX_IMAGE_NAMESPACE::HeapAllocateBuffer(Request); }
UINT32 Locate(HEAP_LOCATE_REQUEST *Request) { return CCX_IMAGE_NAMESPACE::HeapLocateBuffer(Request); }
LIST_ENTRY *ListInUse() { return CCX_IMAGE_NAMESPACE::gImage.Heap.BufferList; }

}  // namespace peerheap
