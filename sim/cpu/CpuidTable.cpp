#include "sim/cpu/CpuidTable.h"

#include <algorithm>
#include <array>

#include "arch/Cpuid.h"

namespace sim {

bool TakesSubLeaf(uint32_t Leaf) {
  static constexpr std::array<uint32_t, 9> kLeaves = {0x00000007, 0x0000000B, 0x0000000D, 0x0000000F, 0x00000010,
                                                      CpuidLeaf::CacheProperties::Leaf, 0x80000020, 0x80000026, 0x80000027};
  return std::find(kLeaves.begin(), kLeaves.end(), Leaf) != kLeaves.end();
}

namespace {

uint32_t EffectiveSubLeaf(uint32_t Leaf, uint32_t SubLeaf) { return TakesSubLeaf(Leaf) ? SubLeaf : 0; }

}  // namespace

CpuidTable &CpuidTable::Set(uint32_t Leaf, const CpuidValue &Value) {
  Leaves_.Put(Leaf, Value);
  return *this;
}

CpuidTable &CpuidTable::Set(uint32_t Leaf, uint32_t SubLeaf, const CpuidValue &Value) {
  SubLeaves_.Put({Leaf, EffectiveSubLeaf(Leaf, SubLeaf)}, Value);
  return *this;
}

std::optional<CpuidValue> CpuidTable::Find(uint32_t Leaf, uint32_t SubLeaf) const {
  if (const CpuidValue *Found = SubLeaves_.Find({Leaf, EffectiveSubLeaf(Leaf, SubLeaf)})) {
    return *Found;
  }
  if (const CpuidValue *Found = Leaves_.Find(Leaf)) {
    return *Found;
  }
  return std::nullopt;
}

}  // namespace sim
