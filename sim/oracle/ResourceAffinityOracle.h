// What the resource affinity services must append for a machine, computed from its description:
// the compute-unit runs of complexes that share a proximity domain, one cache entry for each cache
// the BSP's cache-properties leaf lists at every position that starts a sharing group, and the
// four TLB entries (level 1 and 2, data and instruction) from the TLB leaves, grouped the same way.
// Sharing groups follow the walk: a cache shared by s threads starts a group at every position
// that is a multiple of s, and the entry's sibling map marks the group's positions, bit n for
// position n.
#ifndef SIM_ORACLE_RESOURCE_AFFINITY_ORACLE_H_
#define SIM_ORACLE_RESOURCE_AFFINITY_ORACLE_H_

#include <array>
#include <cstdint>
#include <vector>

#include "interfaces/CcxResourceAffinityServices.h"
#include "sim/platform/Platform.h"

namespace sim {

// A sibling map as an entry must carry it: each byte must hold Bytes, as the map's one-byte rule
// writes it, or else Alternative, exactly the group's members in that byte.
struct ExpectedSiblingMap {
  std::array<uint8_t, 32> Bytes{};
  std::array<uint8_t, 32> Alternative{};
};

// One cache or TLB entry with the walk position whose sharing group it describes.
template <typename Entry>
struct ExpectedSharedEntry {
  Entry Fields{};
  ExpectedSiblingMap Map;
  uint32_t Position = 0;
};

struct ResourceAffinityExpectation {
  EFI_STATUS ComputeUnitStatus = EFI_SUCCESS;
  EFI_STATUS CacheStatus = EFI_SUCCESS;
  EFI_STATUS TlbStatus = EFI_SUCCESS;
  std::vector<CCX_AFFINITY_COMPUTE_UNIT_ENTRY> ComputeUnits;
  std::vector<ExpectedSharedEntry<CCX_AFFINITY_CACHE_ENTRY>> Caches;
  std::vector<ExpectedSharedEntry<CCX_AFFINITY_TLB_ENTRY>> Tlbs;
};

// The sibling map of the group of Sharing threads that starts at walk position First. A map names
// positions 0 to 255 only: a group that starts past them is marked nowhere.
ExpectedSiblingMap SiblingMapFor(uint32_t First, uint32_t Sharing);

// The associativity a 4-bit CPUID code stands for; 0 for the codes no associativity has (7, 9).
uint8_t DecodedTlbAssociativity(uint32_t Code);

// Everything the three services must append, in call order, when the builder calls them one after
// the other on the BSP now. Take it before the calls: the machine's injected sibling faults are
// numbered from the calls the boot has made so far.
ResourceAffinityExpectation ExpectResourceAffinity(Platform &Machine);

}  // namespace sim

#endif  // SIM_ORACLE_RESOURCE_AFFINITY_ORACLE_H_
