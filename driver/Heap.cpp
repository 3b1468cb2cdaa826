#include "driver/Heap.h"

#include "arch/Memory.h"
#include "debug/FatalStop.h"
#include "driver/ImageState.h"
#include "interfaces/QorvexGuids.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kFatalRuntimePoolExhausted = 0x80134;
constexpr UINT32 kFatalBootPoolExhausted = 0x80137;
constexpr UINT32 kFatalHeapNotPublished = 0x80225;

// A node's link is its first member, so a link in the list is the node's address.
HEAP_NODE *NodeOf(LIST_ENTRY *Link) { return reinterpret_cast<HEAP_NODE *>(Link); }
UINT8 *DataOf(HEAP_NODE *Node) { return reinterpret_cast<UINT8 *>(Node) + HEAP_NODE_DATA_OFFSET; }

// The oldest node with this handle and a good signature, or null.
HEAP_NODE *FindNode(UINT32 Handle) {
  LIST_ENTRY *Head = gImage.Heap.BufferList;
  if (Head == nullptr) {
    return nullptr;
  }
  for (LIST_ENTRY *Link = Head->ForwardLink; Link != Head; Link = Link->ForwardLink) {
    HEAP_NODE *Node = NodeOf(Link);
    if (Node->Header.Handle == Handle && Node->Header.Signature == HEAP_SIGNATURE) {
      return Node;
    }
  }
  return nullptr;
}

// Takes pool memory for a node that can hold Header's data, copies the header in and appends the
// node at the tail of the list in use. Buffers that must outlive boot services go to runtime
// memory; the list itself stays in boot-services memory.
EFI_STATUS AllocateNode(const HEAP_BUFFER_HEADER &Header, HEAP_NODE **Node) {
  const BOOLEAN Runtime = Header.Persistence == HEAP_PERSIST_RUNTIME;
  const UINTN Bytes = HEAP_NODE_DATA_OFFSET + static_cast<UINTN>(Header.Size);
  VOID *Memory = nullptr;
  const EFI_STATUS Status =
      gBS->AllocatePool(Runtime ? EfiRuntimeServicesData : EfiBootServicesData, Bytes, &Memory);
  if (EFI_ERROR(Status) || Memory == nullptr) {
    FatalStop(Runtime ? kFatalRuntimePoolExhausted : kFatalBootPoolExhausted);
    return EFI_UNSUPPORTED;
  }
  HEAP_NODE *New = static_cast<HEAP_NODE *>(Memory);
  CopyMemory(&New->Header, &Header, sizeof(HEAP_BUFFER_HEADER));
  LIST_ENTRY *Head = gImage.Heap.BufferList;
  New->Link.ForwardLink = Head;
  New->Link.BackLink = Head->BackLink;
  Head->BackLink->ForwardLink = &New->Link;
  Head->BackLink = &New->Link;
  *Node = New;
  return EFI_SUCCESS;
}

// Puts every valid buffer of the heap HOBs into the list, in HOB order. Handles and persistence
// are taken as the pre-memory phase left them.
VOID RestoreHobBuffers() {
  for (EFI_HOB_GUID_TYPE *Hob = HobFindGuid(&gQorvexHeapHobGuid); Hob != nullptr;
       Hob = HobFindNextGuid(&gQorvexHeapHobGuid, Hob)) {
    if (HobGuidDataSize(Hob) < sizeof(HEAP_BUFFER_HEADER)) {
      continue;
    }
    const HEAP_HOB *Record = reinterpret_cast<const HEAP_HOB *>(Hob);
    HEAP_BUFFER_HEADER Header;
    CopyMemory(&Header, &Record->Header, sizeof(Header));
    if (Header.Signature != HEAP_SIGNATURE || Header.Valid != HEAP_BUFFER_VALID) {
      continue;
    }
    // A record that claims more data than its HOB carries would be copied from beyond the HOB.
    if (Header.Size > HobGuidDataSize(Hob) - sizeof(HEAP_BUFFER_HEADER)) {
      continue;
    }
    HEAP_NODE *Node = nullptr;
    if (EFI_ERROR(AllocateNode(Header, &Node))) {
      continue;
    }
    CopyMemory(DataOf(Node), reinterpret_cast<const UINT8 *>(Record) + sizeof(HEAP_HOB), Header.Size);
  }
}

}  // namespace

UINT32 HeapAllocateBuffer(HEAP_ALLOCATE_REQUEST *Request) {
  if (Request->Persistence < HEAP_PERSIST_MIN || Request->Persistence > HEAP_PERSIST_RUNTIME) {
    return HEAP_BAD_PERSISTENCE;
  }
  if (FindNode(Request->Handle) != nullptr) {
    return HEAP_HANDLE_CONFLICT;
  }
  Request->Buffer = 0;
  // Before the start-up there is no list to add to.
  if (gImage.Heap.BufferList == nullptr) {
    return HEAP_NO_MEMORY;
  }
  HEAP_BUFFER_HEADER Header = {};
  Header.Signature = HEAP_SIGNATURE;
  Header.Handle = Request->Handle;
  Header.Size = Request->Size;
  Header.Persistence = Request->Persistence;
  Header.Valid = HEAP_BUFFER_VALID;
  HEAP_NODE *Node = nullptr;
  if (EFI_ERROR(AllocateNode(Header, &Node))) {
    return HEAP_NO_MEMORY;
  }
  Request->Buffer = reinterpret_cast<UINT64>(DataOf(Node));
  if (Header.Size != 0) {
    ZeroMemory(DataOf(Node), Header.Size);
  }
  return HEAP_SUCCESS;
}

UINT32 HeapLocateBuffer(HEAP_LOCATE_REQUEST *Request) {
  HEAP_NODE *Node = FindNode(Request->Handle);
  if (Node == nullptr) {
    Request->Buffer = 0;
    Request->Size = 0;
    return HEAP_HANDLE_CONFLICT;
  }
  Request->Size = Node->Header.Size;
  Request->Buffer = reinterpret_cast<UINT64>(DataOf(Node));
  return HEAP_SUCCESS;
}

VOID HeapStartup() {
  GetHobList();
  QORVEX_HEAP_PROTOCOL *Shared = nullptr;
  if (!EFI_ERROR(gBS->LocateProtocol(&gQorvexHeapProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Shared))) &&
      Shared != nullptr) {
    // An earlier driver of this boot owns the list and has restored the HOB buffers into it.
    gImage.Heap.BufferList = &Shared->BufferList;
    return;
  }
  QORVEX_HEAP_PROTOCOL &Own = gImage.Heap.Protocol;
  Own.BufferList.ForwardLink = &Own.BufferList;
  Own.BufferList.BackLink = &Own.BufferList;
  gImage.Heap.BufferList = &Own.BufferList;
  RestoreHobBuffers();
  EFI_HANDLE Handle = nullptr;
  if (EFI_ERROR(gBS->InstallProtocolInterface(&Handle, &gQorvexHeapProtocolGuid, EFI_NATIVE_INTERFACE, &Own))) {
    // This driver keeps its own list; other drivers won't find it.
    FatalStop(kFatalHeapNotPublished);
  }
}

}  // namespace CCX_IMAGE_NAMESPACE
