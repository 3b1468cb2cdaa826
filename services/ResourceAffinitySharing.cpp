// Which threads share a cache or TLB. The cache and TLB services number the thread positions in
// walk order; a group of s sharing threads starts at every position that is a multiple of s, and
// the entry's sibling map marks the group's positions, bit n for position n.
#include "services/ResourceAffinityServices.h"

#include "arch/Cpuid.h"
#include "arch/Processor.h"
#include "driver/ImageState.h"
#include "services/CoreRegisters.h"
#include "services/TopologyWalk.h"

namespace CCX_IMAGE_NAMESPACE {

// Groups are marked bit by bit, so that a group wider than a byte, or one that does not start on
// a byte boundary, keeps every member; each byte the group touches holds exactly its members.
// A map has room for 256 positions: members beyond them are not marked, though the entry stays.
VOID SetSiblingMap(UINT8 (&Map)[32], UINT32 First, UINT32 Count) {
  constexpr UINT32 kPositions = CCX_AFFINITY_SIBLING_MAP_POSITIONS;
  if (First >= kPositions) {
    return;
  }
  const UINT32 End = Count > kPositions - First ? kPositions : First + Count;
  UINT32 Position = First;
  while (Position < End) {
    const UINT32 Byte = Position / 8;
    UINT8 Bits = 0;
    for (; Position < End && Position / 8 == Byte; Position++) {
      Bits = static_cast<UINT8>(Bits | (1U << (Position % 8)));
    }
    Map[Byte] = Bits;
  }
}

BOOLEAN AffinityNextThread(AFFINITY_THREAD_WALK *Walk) {
  if (TopologyNextPosition(&Walk->At, gImage.Init.TopologyServices) == StepEnd) {
    return FALSE;
  }
  Walk->Position++;
  Walk->ApicId = CcxGetApicIdAt(Walk->At);
  return TRUE;
}

UINT32 CacheSharingCount(UINT32 SubLeaf) {
  UINT32 Eax = 0;
  UINT32 Ebx = 0;
  UINT32 Ecx = 0;
  UINT32 Edx = 0;
  CpuidEx(CpuidLeaf::CacheProperties::Leaf, SubLeaf, &Eax, &Ebx, &Ecx, &Edx);
  return static_cast<UINT32>(CpuidLeaf::CacheProperties::EaxNumSharingCacheMinusOne::Get(Eax)) + 1;
}

}  // namespace CCX_IMAGE_NAMESPACE
