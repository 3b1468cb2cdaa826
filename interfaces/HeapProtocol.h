// The shared heap: byte buffers that the platform's drivers hand to one another by a 32-bit
// handle instead of an address. The first driver of the boot publishes the list head through
// QORVEX_HEAP_PROTOCOL; every later driver appends to and searches that same list. The records
// here are shared with those drivers and with the pre-memory phase, so their layouts are fixed.
#ifndef INTERFACES_HEAP_PROTOCOL_H_
#define INTERFACES_HEAP_PROTOCOL_H_

#include "uefi/Base.h"
#include "uefi/Hob.h"

// The published record: the list head lives inside it, so every driver links its nodes into the
// one list no matter which driver allocated them.
typedef struct {
  UINT64 Revision;
  LIST_ENTRY BufferList;
} QORVEX_HEAP_PROTOCOL;
static_assert(sizeof(QORVEX_HEAP_PROTOCOL) == 24, "the heap record is a revision and a list head");
static_assert(offsetof(QORVEX_HEAP_PROTOCOL, BufferList) == 8, "the list head follows the revision");

constexpr UINT64 QORVEX_HEAP_PROTOCOL_REVISION = 1;

#pragma pack(push, 1)

// Describes one buffer, both in a list node and inside a heap HOB of the pre-memory phase.
typedef struct {
  UINT32 Signature;
  UINT32 Handle;
  UINT32 Size;
  UINT8 Persistence;
  UINT8 Valid;
  UINT8 Reserved[2];
} HEAP_BUFFER_HEADER;

#pragma pack(pop)

static_assert(sizeof(HEAP_BUFFER_HEADER) == 16, "HEAP_BUFFER_HEADER is 16 bytes");
static_assert(offsetof(HEAP_BUFFER_HEADER, Handle) == 4, "handle at offset 4");
static_assert(offsetof(HEAP_BUFFER_HEADER, Size) == 8, "size at offset 8");
static_assert(offsetof(HEAP_BUFFER_HEADER, Persistence) == 12, "persistence at offset 12");
static_assert(offsetof(HEAP_BUFFER_HEADER, Valid) == 13, "valid flag at offset 13");

// The bytes "HEAP" read as a little-endian word.
constexpr UINT32 HEAP_SIGNATURE = 0x50414548;
constexpr UINT8 HEAP_BUFFER_VALID = 1;
// Persistence runs from 1 to 8; 8 places the buffer in runtime memory so that it outlives boot
// services. The other values are stored for other components and treated alike here.
constexpr UINT8 HEAP_PERSIST_MIN = 1;
constexpr UINT8 HEAP_PERSIST_RUNTIME = 8;

// One pool allocation per buffer: the link, the header, then the data. A buffer's address as
// handed out is the address of its data, so a node is found again from it by subtracting the
// fixed data offset.
typedef struct {
  LIST_ENTRY Link;
  HEAP_BUFFER_HEADER Header;
} HEAP_NODE;
static_assert(offsetof(HEAP_NODE, Header) == 16, "the header follows the link");
static_assert(sizeof(HEAP_NODE) == 32, "the data begins 32 bytes into a node");

constexpr UINTN HEAP_NODE_DATA_OFFSET = sizeof(HEAP_NODE);

#pragma pack(push, 1)

// The buffer address follows the persistence byte without padding: callers in other drivers
// build this record byte for byte, so the compiler must not align it.
typedef struct {
  UINT32 Size;
  UINT32 Handle;
  UINT8 Persistence;
  UINT64 Buffer;
} HEAP_ALLOCATE_REQUEST;

typedef struct {
  UINT32 Handle;
  UINT32 Size;
  UINT64 Buffer;
} HEAP_LOCATE_REQUEST;

// A heap HOB: a GUID extension HOB named gQorvexHeapHobGuid whose data is one buffer header
// followed by the buffer's bytes. The HOB length, not the header's size, leads to the next HOB.
typedef struct {
  EFI_HOB_GUID_TYPE Hob;
  HEAP_BUFFER_HEADER Header;
} HEAP_HOB;

#pragma pack(pop)

static_assert(sizeof(HEAP_ALLOCATE_REQUEST) == 17, "HEAP_ALLOCATE_REQUEST is 17 bytes, packed");
static_assert(offsetof(HEAP_ALLOCATE_REQUEST, Handle) == 4, "allocate: handle at offset 4");
static_assert(offsetof(HEAP_ALLOCATE_REQUEST, Persistence) == 8, "allocate: persistence at offset 8");
static_assert(offsetof(HEAP_ALLOCATE_REQUEST, Buffer) == 9, "allocate: buffer right after persistence");
static_assert(sizeof(HEAP_LOCATE_REQUEST) == 16, "HEAP_LOCATE_REQUEST is 16 bytes");
static_assert(offsetof(HEAP_LOCATE_REQUEST, Size) == 4, "locate: size at offset 4");
static_assert(offsetof(HEAP_LOCATE_REQUEST, Buffer) == 8, "locate: buffer at offset 8");
static_assert(offsetof(HEAP_HOB, Hob.Header.HobLength) == 2, "heap HOB: length at offset 2");
static_assert(offsetof(HEAP_HOB, Hob.Name) == 8, "heap HOB: name GUID at offset 8");
static_assert(offsetof(HEAP_HOB, Header) == 24, "heap HOB: buffer header at offset 24");
static_assert(sizeof(HEAP_HOB) == 40, "heap HOB: buffer data at offset 40");

// Results of the two heap operations.
constexpr UINT32 HEAP_SUCCESS = 0;
constexpr UINT32 HEAP_BAD_PERSISTENCE = 1;
constexpr UINT32 HEAP_HANDLE_CONFLICT = 2;
constexpr UINT32 HEAP_NO_MEMORY = 7;

// Handles that carry no record of their own. The one-byte buffer is left for a sibling driver at
// the end of initialization; the down-core buffer is made by another component when cores are
// disabled, and only its presence is looked at.
constexpr UINT32 HEAP_HANDLE_INIT_VALUE = 0xA02B;
constexpr UINT32 HEAP_HANDLE_DOWN_CORE = 0xA036;

#endif  // INTERFACES_HEAP_PROTOCOL_H_
