// Cache entries: one per cache and sharing group, with the cache's figures from the cache
// properties leaf of the processor that runs the call. That leaf is a topology extension, which
// the processor only shows while the extension bit of the feature override MSR is set; the
// service sets it for the time of the walk when it finds it clear, and leaves it as found.
#include "services/ResourceAffinityServices.h"

#include "arch/Cpuid.h"
#include "arch/Msr.h"
#include "arch/Processor.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

using Cache = CpuidLeaf::CacheProperties;

VOID FillCacheEntry(CCX_AFFINITY_CACHE_ENTRY *Entry, UINT32 Eax, UINT32 Ebx, UINT32 Ecx, UINT32 Edx) {
  const UINT32 Type = static_cast<UINT32>(Cache::EaxCacheType::Get(Eax));
  UINT32 Flags = CCX_AFFINITY_BASE_FLAGS;
  if (Type != Cache::TypeInstruction) {
    Flags |= CCX_AFFINITY_FLAG_DATA;
  }
  if (Type != Cache::TypeData) {
    Flags |= CCX_AFFINITY_FLAG_INSTRUCTION;
  }
  Entry->Flags |= Flags;
  const UINT32 Ways = static_cast<UINT32>(Cache::EbxWaysMinusOne::Get(Ebx)) + 1;
  const UINT32 LineSize = static_cast<UINT32>(Cache::EbxLineSizeMinusOne::Get(Ebx)) + 1;
  const UINT32 Sets = static_cast<UINT32>(Cache::EcxSetsMinusOne::Get(Ecx)) + 1;
  // The size is worked out in 32 bits, as the table's readers expect it.
  Entry->CacheSizeInKb = Ways * LineSize * Sets / 1024;
  Entry->CacheLevel = static_cast<UINT8>(Cache::EaxCacheLevel::Get(Eax));
  Entry->Byte49 = CCX_AFFINITY_CACHE_BYTE49;
  Entry->LineSize = static_cast<UINT16>(LineSize);
  Entry->Associativity = Cache::EaxFullyAssociative::IsSet(Eax) ? 0xFF : static_cast<UINT8>(Ways);
  Entry->InclusiveFlag = static_cast<UINT8>(Edx & Cache::EdxInclusiveMask);
  Entry->Word54 = CCX_AFFINITY_CACHE_WORD54;
}

// The caches whose sharing group starts at this position, one entry each.
VOID AppendGroupsAt(const AFFINITY_THREAD_WALK &Walk, CCX_RESOURCE_AFFINITY_TABLE_HEADER *TableHeader,
                    UINT8 **Cursor) {
  for (UINT32 SubLeaf = 0;; SubLeaf++) {
    UINT32 Eax = 0;
    UINT32 Ebx = 0;
    UINT32 Ecx = 0;
    UINT32 Edx = 0;
    CpuidEx(Cache::Leaf, SubLeaf, &Eax, &Ebx, &Ecx, &Edx);
    if (Cache::EaxCacheType::Get(Eax) == Cache::TypeNone) {
      return;
    }
    const UINT32 Sharing = static_cast<UINT32>(Cache::EaxNumSharingCacheMinusOne::Get(Eax)) + 1;
    if (Walk.Position % Sharing != 0) {
      continue;
    }
    auto *Entry =
        reinterpret_cast<CCX_AFFINITY_CACHE_ENTRY *>(AppendAffinityEntry(CCX_AFFINITY_TYPE_CACHE, TableHeader, Cursor));
    if (Entry == nullptr) {
      return;
    }
    Entry->ApicId = Walk.ApicId;
    SetSiblingMap(Entry->SiblingMap, Walk.Position, Sharing);
    FillCacheEntry(Entry, Eax, Ebx, Ecx, Edx);
  }
}

}  // namespace

EFI_STATUS EFIAPI AddCacheEntries(QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL *This,
                                  CCX_RESOURCE_AFFINITY_TABLE_HEADER *TableHeader, UINT8 **Cursor) {
  if (TableHeader == nullptr || Cursor == nullptr || *Cursor == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  using Override = Msr::CpuidExtFeatures;
  const BOOLEAN Hidden = !Override::TopologyExtensions::IsSet(AsmReadMsr64(Override::Number));
  if (Hidden) {
    AsmWriteMsr64(Override::Number, Override::TopologyExtensions::Set(AsmReadMsr64(Override::Number), 1));
  }
  AFFINITY_THREAD_WALK Walk;
  while (AffinityNextThread(&Walk)) {
    AppendGroupsAt(Walk, TableHeader, Cursor);
  }
  if (Hidden) {
    AsmWriteMsr64(Override::Number, Override::TopologyExtensions::Set(AsmReadMsr64(Override::Number), 0));
  }
  return TopologyWalkResult("AddCacheEntries", Walk.At);
}

}  // namespace CCX_IMAGE_NAMESPACE
