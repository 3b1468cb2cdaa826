// The option NV table: fetched once from the option service into the shared heap, where this
// driver and every other driver that shares the heap find it again by its handle.
#include "options/OptionHooks.h"

#include "debug/DebugPrint.h"
#include "debug/FatalStop.h"
#include "driver/Heap.h"
#include "interfaces/ZrbOptionHook.h"
#include "options/NvTableWalk.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kFatalNoTableBuffer = 0x20910158;
constexpr UINT32 kFatalFetchFailed = 0x20910168;
constexpr UINT32 kFatalGuardOverwritten = 0x20910176;
constexpr UINT32 kFatalBadTableSignature = 0x20910182;
constexpr UINT32 kLargestTableSize = 0xFFFFFFFF - ZRB_NV_TABLE_SLACK;

UINT32 ReadWord(const UINT8 *Bytes) {
  return static_cast<UINT32>(Bytes[0]) | static_cast<UINT32>(Bytes[1]) << 8 | static_cast<UINT32>(Bytes[2]) << 16 |
         static_cast<UINT32>(Bytes[3]) << 24;
}

VOID WriteWord(UINT8 *Bytes, UINT32 Value) {
  for (UINTN Index = 0; Index < sizeof(UINT32); Index++) {
    Bytes[Index] = static_cast<UINT8>(Value >> (8 * Index));
  }
}

// Asks the service for its table and copies it into a new heap buffer with a guard word behind
// the table. On success *Table describes the buffer as a heap lookup would.
UINT32 FetchNvTable(HEAP_LOCATE_REQUEST *Table) {
  UINT32 Size = 0;
  ZRB_NV_TABLE_REQUEST SizeQuery = {nullptr, &Size};
  // A service that is missing or refuses the size query has failed the fetch; it has not
  // reported an empty table.
  if (KtxCallOptionService(ZRB_HOOK_FETCH_NV_TABLE, &SizeQuery) != KTX_SUCCESS) {
    return KTX_FETCH_FAILED;
  }
  if (Size == 0) {
    return KTX_NOT_FOUND;
  }
  PrintDebugMessage(TRACE_CPU, "Get KtxNV table size 0x%x\n", UINT64{Size});
  // A size that leaves no room for the guard behind it cannot be given a buffer.
  if (Size > kLargestTableSize) {
    PrintDebugMessage(TRACE_CPU, "Allocate Heap fail, exit\n");
    return HEAP_NO_MEMORY;
  }
  HEAP_ALLOCATE_REQUEST Allocation = {};
  Allocation.Size = Size + ZRB_NV_TABLE_SLACK;
  Allocation.Handle = HEAP_HANDLE_NV_TABLE;
  Allocation.Persistence = ZRB_NV_TABLE_PERSISTENCE;
  const UINT32 HeapResult = HeapAllocateBuffer(&Allocation);
  if (Allocation.Buffer == 0) {
    FatalStop(kFatalNoTableBuffer);
  }
  if (HeapResult != HEAP_SUCCESS || Allocation.Buffer == 0) {
    PrintDebugMessage(TRACE_CPU, "Allocate Heap fail, exit\n");
    return HeapResult != HEAP_SUCCESS ? HeapResult : HEAP_NO_MEMORY;
  }

  UINT8 *Buffer = reinterpret_cast<UINT8 *>(static_cast<UINTN>(Allocation.Buffer));
  WriteWord(Buffer + Size + ZRB_NV_TABLE_GUARD_OFFSET, ZRB_NV_TABLE_GUARD);
  UINT32 Copied = Size;
  ZRB_NV_TABLE_REQUEST CopyRequest = {Buffer, &Copied};
  if (KtxCallOptionService(ZRB_HOOK_FETCH_NV_TABLE, &CopyRequest) != KTX_SUCCESS) {
    FatalStop(kFatalFetchFailed);
    PrintDebugMessage(TRACE_CPU, "GetKtxNvTable Status return fail, exit\n");
    return KTX_FETCH_FAILED;
  }
  // The guard is checked where it was written, behind the size the buffer was made for. The
  // service may report a smaller table after the copy; that moves nothing it wrote. A size grown
  // past the buffer's claims bytes beyond the room it was given, which is an overrun in itself.
  if (Copied > Size || ReadWord(Buffer + Size + ZRB_NV_TABLE_GUARD_OFFSET) != ZRB_NV_TABLE_GUARD) {
    PrintDebugMessage(TRACE_CPU, "ZRB data exceed the boundary\n");
    FatalStop(kFatalGuardOverwritten);
    return KTX_OVERRUN;
  }
  Table->Size = Allocation.Size;
  Table->Buffer = Allocation.Buffer;
  return KTX_SUCCESS;
}

}  // namespace

UINT32 GetKtxNvValue(UINT16 OptionId, UINT64 *Value) {
  HEAP_LOCATE_REQUEST Table = {};
  Table.Handle = HEAP_HANDLE_NV_TABLE;
  if (HeapLocateBuffer(&Table) != HEAP_SUCCESS) {
    const UINT32 Fetched = FetchNvTable(&Table);
    if (Fetched != KTX_SUCCESS) {
      return Fetched;
    }
  }
  const UINT8 *Buffer = reinterpret_cast<const UINT8 *>(static_cast<UINTN>(Table.Buffer));
  if (Table.Size < sizeof(UINT32) || ReadWord(Buffer) != ZRB_NV_TABLE_SIGNATURE) {
    FatalStop(kFatalBadTableSignature);
  }
  // The buffer holds the table and the slack behind it; the walk stays inside the table, which
  // has the size the service reported when the buffer was made for it.
  const UINTN TableSize = Table.Size > ZRB_NV_TABLE_SLACK ? Table.Size - ZRB_NV_TABLE_SLACK : 0;
  return KtxFindNvValue(Buffer, TableSize, OptionId, Value);
}

}  // namespace CCX_IMAGE_NAMESPACE
