// QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL: the compute-unit, cache and TLB entries of the
// platform's resource affinity table. The record is installed by the initialization; the services
// and the routines they share are declared here so that they can be called directly as well. Each
// service walks every thread; one whose walk a failed count query cut short answers an error, and
// the entries and counts it wrote before stay as they are.
#ifndef SERVICES_RESOURCE_AFFINITY_SERVICES_H_
#define SERVICES_RESOURCE_AFFINITY_SERVICES_H_

#include "arch/ImageNamespace.h"
#include "interfaces/CcxResourceAffinityServices.h"
#include "services/TopologyWalk.h"

namespace CCX_IMAGE_NAMESPACE {

extern const QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL gCcxResourceAffinityServicesProtocol;

EFI_STATUS EFIAPI AddComputeUnitEntries(QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL *This,
                                        CCX_RESOURCE_AFFINITY_TABLE_HEADER *TableHeader, UINT8 **Cursor);
EFI_STATUS EFIAPI AddCacheEntries(QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL *This,
                                  CCX_RESOURCE_AFFINITY_TABLE_HEADER *TableHeader, UINT8 **Cursor);
EFI_STATUS EFIAPI AddTlbEntries(QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL *This,
                                CCX_RESOURCE_AFFINITY_TABLE_HEADER *TableHeader, UINT8 **Cursor);

// Fatal stops of the entry routines.
constexpr UINT32 kFatalAffinityNoDomain = 0x30790697;
constexpr UINT32 kFatalAffinityTypeTooLarge = 0x30791216;
constexpr UINT32 kFatalAffinityTypeUnknown = 0x30791243;
constexpr UINT32 kFatalAffinityBadAssociativity = 0x30791303;

// Writes the type and length of a new entry at *Cursor, moves the cursor past it and counts it in
// the header. Types the table does not know are refused with a fatal stop: nothing is then
// written or counted, and the answer is null.
UINT8 *AppendAffinityEntry(UINT8 Type, CCX_RESOURCE_AFFINITY_TABLE_HEADER *TableHeader, UINT8 **Cursor);

// Marks the sharing group of Count threads from walk position First in a 256-bit sibling map.
// Positions the map cannot name are left out.
VOID SetSiblingMap(UINT8 (&Map)[32], UINT32 First, UINT32 Count);

// The associativity a 4-bit CPUID code stands for; 0xFF is fully associative. A reserved code is
// a fatal stop and gives 0.
UINT8 DecodeAssociativity(UINT32 Code);

// The walk of the cache and TLB services: every thread position in walk order, with its number
// in that order and its APIC ID.
struct AFFINITY_THREAD_WALK {
  TOPOLOGY_POSITION At;
  // The position's number, counting from 0; meaningful once AffinityNextThread has answered TRUE.
  UINT32 Position = ~static_cast<UINT32>(0);
  UINT32 ApicId = 0;
};
BOOLEAN AffinityNextThread(AFFINITY_THREAD_WALK *Walk);

// How many threads share the cache that CPUID 0x8000001D describes in SubLeaf.
UINT32 CacheSharingCount(UINT32 SubLeaf);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // SERVICES_RESOURCE_AFFINITY_SERVICES_H_
