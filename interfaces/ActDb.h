// The ActDb: the platform's store of configuration tokens, a shared heap buffer that another
// component creates and this driver only reads and changes. Each token is a 32-bit Uid with an
// 8-bit or a 16-bit value, kept in one table per width. The offsets and counts in the store come
// from another component, so a reader must check every table and entry against the buffer's size
// before touching it.
#ifndef INTERFACES_ACT_DB_H_
#define INTERFACES_ACT_DB_H_

#include "uefi/Base.h"

// Handle "ACDB": the four ASCII bytes in memory order read as a little-endian word.
constexpr UINT32 HEAP_HANDLE_ACT_DB = 0x42444341;

#pragma pack(push, 1)

// The start of the store. A table offset of 0 means that table was never set up.
typedef struct {
  UINT32 Reserved;
  UINT32 Table8Offset;
  UINT32 Table16Offset;
} ACT_DB_HEADER;

// The start of a token table, either width; Count entries follow at offset 16, and Capacity
// bounds the bytes they may fill.
typedef struct {
  UINT32 Reserved1;
  UINT32 Capacity;
  UINT32 Count;
  UINT32 Reserved2;
} ACT_DB_TABLE_HEADER;

// Entries are eight bytes in both tables; the bytes behind the value are not the driver's and
// are left as they are.
typedef struct {
  UINT32 Uid;
  UINT8 Value;
  UINT8 Untouched[3];
} ACT_DB_ENTRY8;

typedef struct {
  UINT32 Uid;
  UINT16 Value;
  UINT8 Untouched[2];
} ACT_DB_ENTRY16;

#pragma pack(pop)

static_assert(sizeof(ACT_DB_HEADER) == 12, "the store header holds three words");
static_assert(offsetof(ACT_DB_HEADER, Table8Offset) == 4, "8-bit table offset at 4");
static_assert(offsetof(ACT_DB_HEADER, Table16Offset) == 8, "16-bit table offset at 8");
static_assert(sizeof(ACT_DB_TABLE_HEADER) == 16, "entries start 16 bytes into a table");
static_assert(offsetof(ACT_DB_TABLE_HEADER, Capacity) == 4, "table capacity at 4");
static_assert(offsetof(ACT_DB_TABLE_HEADER, Count) == 8, "table count at 8");
static_assert(sizeof(ACT_DB_ENTRY8) == 8, "an 8-bit token entry is 8 bytes");
static_assert(offsetof(ACT_DB_ENTRY8, Value) == 4, "8-bit value at 4");
static_assert(sizeof(ACT_DB_ENTRY16) == 8, "a 16-bit token entry is 8 bytes");
static_assert(offsetof(ACT_DB_ENTRY16, Value) == 4, "16-bit value at 4");

constexpr UINT32 ACT_DB_ENTRY_SIZE = 8;

#endif  // INTERFACES_ACT_DB_H_
