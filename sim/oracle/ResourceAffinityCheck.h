// Compares the resource affinity entries a builder read back with what the machine says they must
// be, entry by entry and field by field; every byte an entry does not define must still be the
// builder's zero. Each difference becomes one sentence of the service's AnswerCheck. After
// kMostAffinityDifferences differences of one service the rest of its entries go uncompared, so
// that one wrong field repeated in every entry of a large machine stays readable.
#ifndef SIM_ORACLE_RESOURCE_AFFINITY_CHECK_H_
#define SIM_ORACLE_RESOURCE_AFFINITY_CHECK_H_

#include <cstddef>
#include <vector>

#include "sim/oracle/AnswerCheck.h"
#include "sim/oracle/ResourceAffinityOracle.h"

namespace sim {

constexpr size_t kMostAffinityDifferences = 32;

void CheckComputeUnitEntries(const std::vector<CCX_AFFINITY_COMPUTE_UNIT_ENTRY> &Expected,
                             const std::vector<CCX_AFFINITY_COMPUTE_UNIT_ENTRY> &Received, AnswerCheck &Check);
void CheckCacheEntries(const std::vector<ExpectedSharedEntry<CCX_AFFINITY_CACHE_ENTRY>> &Expected,
                       const std::vector<CCX_AFFINITY_CACHE_ENTRY> &Received, AnswerCheck &Check);
void CheckTlbEntries(const std::vector<ExpectedSharedEntry<CCX_AFFINITY_TLB_ENTRY>> &Expected,
                     const std::vector<CCX_AFFINITY_TLB_ENTRY> &Received, AnswerCheck &Check);

}  // namespace sim

#endif  // SIM_ORACLE_RESOURCE_AFFINITY_CHECK_H_
