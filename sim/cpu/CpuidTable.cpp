#include "sim/cpu/CpuidTable.h"

namespace sim {

CpuidTable &CpuidTable::Set(uint32_t Leaf, const CpuidValue &Value) {
  Leaves_[Leaf] = Value;
  return *this;
}

CpuidTable &CpuidTable::Set(uint32_t Leaf, uint32_t SubLeaf, const CpuidValue &Value) {
  SubLeaves_[{Leaf, SubLeaf}] = Value;
  return *this;
}

std::optional<CpuidValue> CpuidTable::Find(uint32_t Leaf, uint32_t SubLeaf) const {
  if (auto Found = SubLeaves_.find({Leaf, SubLeaf}); Found != SubLeaves_.end()) {
    return Found->second;
  }
  if (auto Found = Leaves_.find(Leaf); Found != Leaves_.end()) {
    return Found->second;
  }
  return std::nullopt;
}

}  // namespace sim
