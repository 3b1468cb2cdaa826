// CPUID answers by leaf and, for the leaves that have them, by sub-leaf.
#ifndef SIM_CPU_CPUID_TABLE_H_
#define SIM_CPU_CPUID_TABLE_H_

#include <cstdint>
#include <optional>
#include <utility>

#include "sim/cpu/SortedTable.h"

namespace sim {

// Whether the leaf's answer depends on the sub-leaf in ECX (structured features, extended state,
// the cache-properties list, ...). Every other leaf answers the same whatever ECX holds.
bool TakesSubLeaf(uint32_t Leaf);

struct CpuidValue {
  uint32_t Eax = 0;
  uint32_t Ebx = 0;
  uint32_t Ecx = 0;
  uint32_t Edx = 0;

  bool operator==(const CpuidValue &) const = default;
};

class CpuidTable {
 public:
  // The answer of Leaf whatever ECX holds.
  CpuidTable &Set(uint32_t Leaf, const CpuidValue &Value);
  // The answer of one sub-leaf; it takes precedence over an answer for the whole leaf. For a leaf
  // that takes no sub-leaf, any sub-leaf names the whole leaf's sub-leaf 0.
  CpuidTable &Set(uint32_t Leaf, uint32_t SubLeaf, const CpuidValue &Value);

  // The sub-leaf's answer if the table has one, else the whole leaf's, else nothing. A leaf that
  // takes no sub-leaf answers as its sub-leaf 0, whatever SubLeaf is.
  std::optional<CpuidValue> Find(uint32_t Leaf, uint32_t SubLeaf) const;

 private:
  SortedTable<uint32_t, CpuidValue> Leaves_;
  SortedTable<std::pair<uint32_t, uint32_t>, CpuidValue> SubLeaves_;
};

}  // namespace sim

#endif  // SIM_CPU_CPUID_TABLE_H_
