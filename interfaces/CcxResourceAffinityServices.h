// QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL: the processor part of the platform's resource
// affinity table. The outside builder owns the table and hands in a zero-filled area; each service
// appends its entries at the builder's cursor and keeps the two counters of the table header.
// Only the fields named below are written, so every other byte keeps the builder's zero.
#ifndef INTERFACES_CCX_RESOURCE_AFFINITY_SERVICES_H_
#define INTERFACES_CCX_RESOURCE_AFFINITY_SERVICES_H_

#include "interfaces/AcpiStructures.h"

#pragma pack(push, 1)

// The start of the builder's table: the ACPI header, then the counters these services keep.
typedef struct {
  EFI_ACPI_DESCRIPTION_HEADER Header;
  UINT32 TotalEntries;
  UINT16 ComputeUnitEntries;
} CCX_RESOURCE_AFFINITY_TABLE_HEADER;

// Every entry begins with its type and its length; the cursor moves on by the length.
typedef struct {
  UINT8 Type;
  UINT8 Length;
} CCX_AFFINITY_ENTRY_HEADER;

// One run of consecutive core complexes that share a proximity domain.
typedef struct {
  CCX_AFFINITY_ENTRY_HEADER Entry;
  UINT8 Reserved1[2];
  UINT32 Flags;
  UINT32 ProximityDomain;
  UINT32 ApicId;
  UINT16 ThreadCount;
  UINT8 Reserved2[10];
  // Set to 4 in every processor entry; the table's owner gives the value its meaning.
  UINT8 Byte28;
  UINT8 Reserved3[11];
} CCX_AFFINITY_COMPUTE_UNIT_ENTRY;

// One cache and the group of threads that shares it. Bit n of SiblingMap stands for the thread
// at position n of the topology walk, so the map covers walk positions 0 to 255.
typedef struct {
  CCX_AFFINITY_ENTRY_HEADER Entry;
  UINT8 Reserved1[2];
  UINT32 Flags;
  UINT32 ApicId;
  UINT8 SiblingMap[32];
  UINT32 CacheSizeInKb;
  UINT8 CacheLevel;
  // Set to 1 for every cache.
  UINT8 Byte49;
  UINT16 LineSize;
  UINT8 Associativity;
  // The cache's inclusive bit as the processor reports it: 0 or 2.
  UINT8 InclusiveFlag;
  // Set to 1 for every cache.
  UINT16 Word54;
  UINT8 Reserved2[8];
} CCX_AFFINITY_CACHE_ENTRY;

// Associativity and entry count of one TLB for one page size.
typedef struct {
  UINT8 Associativity;
  UINT8 Entries;
} CCX_AFFINITY_TLB_PAIR;

// One TLB level, data or instruction, and the threads that share it. A data entry fills only the
// data pairs and an instruction entry only the instruction pairs.
typedef struct {
  CCX_AFFINITY_ENTRY_HEADER Entry;
  UINT8 Reserved1[2];
  UINT32 Flags;
  UINT32 ApicId;
  UINT8 SiblingMap[32];
  UINT32 TlbLevel;
  CCX_AFFINITY_TLB_PAIR DataTlb2M;
  CCX_AFFINITY_TLB_PAIR InstructionTlb2M;
  CCX_AFFINITY_TLB_PAIR DataTlb4K;
  CCX_AFFINITY_TLB_PAIR InstructionTlb4K;
  CCX_AFFINITY_TLB_PAIR DataTlb1G;
  CCX_AFFINITY_TLB_PAIR InstructionTlb1G;
  UINT8 Reserved2[4];
} CCX_AFFINITY_TLB_ENTRY;

#pragma pack(pop)

static_assert(offsetof(CCX_RESOURCE_AFFINITY_TABLE_HEADER, TotalEntries) == 36, "total entries at offset 36");
static_assert(offsetof(CCX_RESOURCE_AFFINITY_TABLE_HEADER, ComputeUnitEntries) == 40,
              "compute-unit entries at offset 40");

static_assert(sizeof(CCX_AFFINITY_COMPUTE_UNIT_ENTRY) == 40, "a compute-unit entry is 40 bytes");
static_assert(offsetof(CCX_AFFINITY_COMPUTE_UNIT_ENTRY, Entry.Length) == 1, "compute unit: length at 1");
static_assert(offsetof(CCX_AFFINITY_COMPUTE_UNIT_ENTRY, Flags) == 4, "compute unit: flags at 4");
static_assert(offsetof(CCX_AFFINITY_COMPUTE_UNIT_ENTRY, ProximityDomain) == 8, "compute unit: domain at 8");
static_assert(offsetof(CCX_AFFINITY_COMPUTE_UNIT_ENTRY, ApicId) == 12, "compute unit: APIC ID at 12");
static_assert(offsetof(CCX_AFFINITY_COMPUTE_UNIT_ENTRY, ThreadCount) == 16, "compute unit: threads at 16");
static_assert(offsetof(CCX_AFFINITY_COMPUTE_UNIT_ENTRY, Byte28) == 28, "compute unit: byte 28");

static_assert(sizeof(CCX_AFFINITY_CACHE_ENTRY) == 64, "a cache entry is 64 bytes");
static_assert(offsetof(CCX_AFFINITY_CACHE_ENTRY, Flags) == 4, "cache: flags at 4");
static_assert(offsetof(CCX_AFFINITY_CACHE_ENTRY, ApicId) == 8, "cache: APIC ID at 8");
static_assert(offsetof(CCX_AFFINITY_CACHE_ENTRY, SiblingMap) == 12, "cache: sibling map at 12");
static_assert(offsetof(CCX_AFFINITY_CACHE_ENTRY, CacheSizeInKb) == 44, "cache: size at 44");
static_assert(offsetof(CCX_AFFINITY_CACHE_ENTRY, CacheLevel) == 48, "cache: level at 48");
static_assert(offsetof(CCX_AFFINITY_CACHE_ENTRY, Byte49) == 49, "cache: byte 49");
static_assert(offsetof(CCX_AFFINITY_CACHE_ENTRY, LineSize) == 50, "cache: line size at 50");
static_assert(offsetof(CCX_AFFINITY_CACHE_ENTRY, Associativity) == 52, "cache: associativity at 52");
static_assert(offsetof(CCX_AFFINITY_CACHE_ENTRY, InclusiveFlag) == 53, "cache: inclusive flag at 53");
static_assert(offsetof(CCX_AFFINITY_CACHE_ENTRY, Word54) == 54, "cache: word 54");

static_assert(sizeof(CCX_AFFINITY_TLB_ENTRY) == 64, "a TLB entry is 64 bytes");
static_assert(offsetof(CCX_AFFINITY_TLB_ENTRY, Flags) == 4, "TLB: flags at 4");
static_assert(offsetof(CCX_AFFINITY_TLB_ENTRY, ApicId) == 8, "TLB: APIC ID at 8");
static_assert(offsetof(CCX_AFFINITY_TLB_ENTRY, SiblingMap) == 12, "TLB: sibling map at 12");
static_assert(offsetof(CCX_AFFINITY_TLB_ENTRY, TlbLevel) == 44, "TLB: level at 44");
static_assert(offsetof(CCX_AFFINITY_TLB_ENTRY, DataTlb2M) == 48, "TLB: data 2 MB pair at 48");
static_assert(offsetof(CCX_AFFINITY_TLB_ENTRY, InstructionTlb2M) == 50, "TLB: instruction 2 MB pair at 50");
static_assert(offsetof(CCX_AFFINITY_TLB_ENTRY, DataTlb4K) == 52, "TLB: data 4 KB pair at 52");
static_assert(offsetof(CCX_AFFINITY_TLB_ENTRY, InstructionTlb4K) == 54, "TLB: instruction 4 KB pair at 54");
static_assert(offsetof(CCX_AFFINITY_TLB_ENTRY, DataTlb1G) == 56, "TLB: data 1 GB pair at 56");
static_assert(offsetof(CCX_AFFINITY_TLB_ENTRY, InstructionTlb1G) == 58, "TLB: instruction 1 GB pair at 58");

// Entry types. Type 4 is accepted by the append routine with a 64-byte length but never written
// by these services; types 1, 5 and above 5 are refused.
constexpr UINT8 CCX_AFFINITY_TYPE_COMPUTE_UNIT = 0;
constexpr UINT8 CCX_AFFINITY_TYPE_CACHE = 2;
constexpr UINT8 CCX_AFFINITY_TYPE_TLB = 3;

// Walk positions the 256-bit sibling map can name.
constexpr UINT32 CCX_AFFINITY_SIBLING_MAP_POSITIONS = 32 * 8;

// Flag bits. Compute units always carry bits 0 and 2; caches and TLBs always carry bits 0 and 3,
// plus the data and instruction bits that apply. A TLB's count flags mark entry counts stored in
// units of 256 because the real count did not fit a byte.
constexpr UINT32 CCX_AFFINITY_COMPUTE_UNIT_FLAGS = (1U << 0) | (1U << 2);
constexpr UINT32 CCX_AFFINITY_BASE_FLAGS = (1U << 0) | (1U << 3);
constexpr UINT32 CCX_AFFINITY_FLAG_DATA = 1U << 1;
constexpr UINT32 CCX_AFFINITY_FLAG_INSTRUCTION = 1U << 2;
constexpr UINT32 CCX_AFFINITY_TLB_FLAG_4K_IN_256 = 1U << 5;
constexpr UINT32 CCX_AFFINITY_TLB_FLAG_2M_IN_256 = 1U << 7;
constexpr UINT32 CCX_AFFINITY_TLB_FLAG_1G_IN_256 = 1U << 9;

// Written into Byte28 of every compute-unit entry and into Byte49 and Word54 of every cache entry.
constexpr UINT8 CCX_AFFINITY_COMPUTE_UNIT_BYTE28 = 4;
constexpr UINT8 CCX_AFFINITY_CACHE_BYTE49 = 1;
constexpr UINT16 CCX_AFFINITY_CACHE_WORD54 = 1;

typedef struct _QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL;

// Each service appends at *Cursor, moves *Cursor past what it wrote and updates TableHeader.
typedef EFI_STATUS(EFIAPI *CCX_AFFINITY_ADD_ENTRIES)(IN QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL *This,
                                                     IN OUT CCX_RESOURCE_AFFINITY_TABLE_HEADER *TableHeader,
                                                     IN OUT UINT8 **Cursor);

struct _QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL {
  UINT64 Revision;
  CCX_AFFINITY_ADD_ENTRIES AddComputeUnitEntries;
  CCX_AFFINITY_ADD_ENTRIES AddCacheEntries;
  CCX_AFFINITY_ADD_ENTRIES AddTlbEntries;
};

constexpr UINT64 QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_REVISION = 0;

#endif  // INTERFACES_CCX_RESOURCE_AFFINITY_SERVICES_H_
