#include "options/TokenStore.h"

#include "debug/DebugPrint.h"
#include "driver/Heap.h"
#include "interfaces/ActDb.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

// What differs between the two token tables: which offset of the store names the table, the
// width of the value, and the messages with their levels. The 16-bit table reports its changes
// at the general level, where the 8-bit table uses the configuration level.
struct TOKEN_TABLE_KIND {
  BOOLEAN Wide;
  UINT64 ChangeLevel;
  const CHAR8 *GetMessage;
  const CHAR8 *SetMessage;
  const CHAR8 *UpdateMessage;
  const CHAR8 *AppendMessage;
};

constexpr TOKEN_TABLE_KIND kTable8 = {FALSE, TRACE_CONFIG, "GetVeltaCfg8 UID:%x ", "SetVeltaCfg8 UID:%x Value:%x >>\n",
                                      "ACT8[%d] 0x%x=>0x%x <<\n", "New ACT8[%d]=0x%x, Count: %d => %d <<\n"};
constexpr TOKEN_TABLE_KIND kTable16 = {TRUE, TRACE_GENERAL, "GetVeltaCfg16 UID:%x ",
                                       "SetVeltaCfg16 UID:%x Value:%x >>\n", "ACT16[%d] 0x%x=>0x%x <<\n",
                                       "New ACT16[%d]=0x%x, Count: %d => %d <<\n"};

// One table of the store, checked against the heap buffer that holds it. Room is the number of
// bytes between the first entry and the end of the buffer.
struct TOKEN_TABLE {
  ACT_DB_TABLE_HEADER *Header;
  UINT8 *Entries;
  UINT64 Room;
};

// Finds the store and the table of Kind. The table's offset and count are another component's
// words, so a table that would lie or reach past the buffer is treated as never set up: nothing
// outside the buffer is read or written.
UINT32 FindTable(const TOKEN_TABLE_KIND &Kind, TOKEN_TABLE *Table) {
  HEAP_LOCATE_REQUEST Request = {};
  Request.Handle = HEAP_HANDLE_ACT_DB;
  if (HeapLocateBuffer(&Request) != HEAP_SUCCESS || Request.Buffer == 0) {
    return VELTA_NO_STORE;
  }
  const UINT64 Size = Request.Size;
  UINT8 *Store = reinterpret_cast<UINT8 *>(static_cast<UINTN>(Request.Buffer));
  if (Size < sizeof(ACT_DB_HEADER)) {
    return VELTA_NOT_FOUND;
  }
  const ACT_DB_HEADER *StoreHeader = reinterpret_cast<const ACT_DB_HEADER *>(Store);
  const UINT64 Offset = Kind.Wide ? StoreHeader->Table16Offset : StoreHeader->Table8Offset;
  // A table over the store's own header would move itself when its count changes.
  if (Offset < sizeof(ACT_DB_HEADER) || Offset + sizeof(ACT_DB_TABLE_HEADER) > Size) {
    return VELTA_NOT_FOUND;
  }
  Table->Header = reinterpret_cast<ACT_DB_TABLE_HEADER *>(Store + Offset);
  Table->Entries = Store + Offset + sizeof(ACT_DB_TABLE_HEADER);
  Table->Room = Size - Offset - sizeof(ACT_DB_TABLE_HEADER);
  if (UINT64{Table->Header->Count} * ACT_DB_ENTRY_SIZE > Table->Room) {
    return VELTA_NOT_FOUND;
  }
  return VELTA_SUCCESS;
}

// Reports a store or table that FindTable refused, with the line that ends the caller's message.
UINT32 ReportMissingTable(UINT32 Result) {
  PrintDebugMessage(TRACE_GENERAL, Result == VELTA_NO_STORE ? "ActDb locate fail <<\n" : "ActDb not initialized <<\n");
  return Result;
}

ACT_DB_ENTRY8 *EntryAt(const TOKEN_TABLE &Table, UINT32 Index) {
  return reinterpret_cast<ACT_DB_ENTRY8 *>(Table.Entries + UINT64{Index} * ACT_DB_ENTRY_SIZE);
}

UINT16 EntryValue(const TOKEN_TABLE_KIND &Kind, const TOKEN_TABLE &Table, UINT32 Index) {
  UINT8 *Entry = Table.Entries + UINT64{Index} * ACT_DB_ENTRY_SIZE;
  return Kind.Wide ? reinterpret_cast<ACT_DB_ENTRY16 *>(Entry)->Value : reinterpret_cast<ACT_DB_ENTRY8 *>(Entry)->Value;
}

// Only the value's own bytes change; the rest of the entry belongs to the store's owner.
VOID StoreEntryValue(const TOKEN_TABLE_KIND &Kind, const TOKEN_TABLE &Table, UINT32 Index, UINT16 Value) {
  UINT8 *Entry = Table.Entries + UINT64{Index} * ACT_DB_ENTRY_SIZE;
  if (Kind.Wide) {
    reinterpret_cast<ACT_DB_ENTRY16 *>(Entry)->Value = Value;
  } else {
    reinterpret_cast<ACT_DB_ENTRY8 *>(Entry)->Value = static_cast<UINT8>(Value);
  }
}

UINT32 GetToken(const TOKEN_TABLE_KIND &Kind, UINT32 Uid, UINT32 *Index) {
  PrintDebugMessage(TRACE_GENERAL, Kind.GetMessage, UINT64{Uid});
  TOKEN_TABLE Table = {};
  const UINT32 Found = FindTable(Kind, &Table);
  if (Found != VELTA_SUCCESS) {
    return ReportMissingTable(Found);
  }
  const UINT32 Count = Table.Header->Count;
  for (UINT32 Entry = 0; Entry < Count; Entry++) {
    if (EntryAt(Table, Entry)->Uid == Uid) {
      if (Index != nullptr) {
        *Index = Entry;
      }
      PrintDebugMessage(TRACE_GENERAL, "Index %d Value:%x\n", UINT64{Entry}, UINT64{EntryValue(Kind, Table, Entry)});
      return VELTA_SUCCESS;
    }
  }
  PrintDebugMessage(TRACE_GENERAL, "Not found\n");
  return VELTA_NOT_FOUND;
}

UINT32 SetToken(const TOKEN_TABLE_KIND &Kind, UINT32 Uid, UINT16 Value) {
  PrintDebugMessage(Kind.ChangeLevel, Kind.SetMessage, UINT64{Uid}, UINT64{Value});
  TOKEN_TABLE Table = {};
  const UINT32 Found = FindTable(Kind, &Table);
  if (Found != VELTA_SUCCESS) {
    return ReportMissingTable(Found);
  }
  UINT32 Entry = 0;
  if (GetToken(Kind, Uid, &Entry) == VELTA_SUCCESS) {
    PrintDebugMessage(Kind.ChangeLevel, Kind.UpdateMessage, UINT64{Entry}, UINT64{EntryValue(Kind, Table, Entry)},
                      UINT64{Value});
    StoreEntryValue(Kind, Table, Entry, Value);
    return VELTA_SUCCESS;
  }
  // The capacity is the owner's word as well: a new entry must also fit inside the buffer.
  const UINT32 Count = Table.Header->Count;
  const UINT64 Needed = (UINT64{Count} + 1) * ACT_DB_ENTRY_SIZE;
  if (Needed > Table.Header->Capacity || Needed > Table.Room) {
    PrintDebugMessage(TRACE_GENERAL, "Not enough space <<\n");
    return VELTA_NO_SPACE;
  }
  EntryAt(Table, Count)->Uid = Uid;
  StoreEntryValue(Kind, Table, Count, Value);
  PrintDebugMessage(Kind.ChangeLevel, Kind.AppendMessage, UINT64{Count}, UINT64{Value}, UINT64{Count},
                    UINT64{Count} + 1);
  // The count goes up only once the entry is complete, so a reader never sees half an entry.
  Table.Header->Count = Count + 1;
  return VELTA_SUCCESS;
}

}  // namespace

UINT32 GetVeltaCfg8(UINT32 Uid, UINT32 *Index) { return GetToken(kTable8, Uid, Index); }
UINT32 GetVeltaCfg16(UINT32 Uid, UINT32 *Index) { return GetToken(kTable16, Uid, Index); }
UINT32 SetVeltaCfg8(UINT32 Uid, UINT8 Value) { return SetToken(kTable8, Uid, Value); }
UINT32 SetVeltaCfg16(UINT32 Uid, UINT16 Value) { return SetToken(kTable16, Uid, Value); }

}  // namespace CCX_IMAGE_NAMESPACE
