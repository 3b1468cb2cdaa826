// The shared heap as a second driver of the same boot sees it: the peer image's own copy of the
// heap code and state, for tests that need two drivers on one list.
#ifndef TESTS_DRIVER_PEER_HEAP_H_
#define TESTS_DRIVER_PEER_HEAP_H_

#include "interfaces/HeapProtocol.h"
#include "uefi/SystemTable.h"

namespace peerheap {

// Loads the peer image afresh and runs its heap start-up with the given system table.
void Start(EFI_SYSTEM_TABLE *SystemTable);
UINT32 Allocate(HEAP_ALLOCATE_REQUEST *Request);
UINT32 Locate(HEAP_LOCATE_REQUEST *Request);
// The list head the peer uses.
LIST_ENTRY *ListInUse();

}  // namespace peerheap

#endif  // TESTS_DRIVER_PEER_HEAP_H_
