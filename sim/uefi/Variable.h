// A UEFI variable as the simulated store keeps it, and the attribute rules every way of storing
// one (SetVariable, the store file) shares.
#ifndef SIM_UEFI_VARIABLE_H_
#define SIM_UEFI_VARIABLE_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/uefi/Guid.h"
#include "uefi/SystemTable.h"

namespace sim {

// Attribute bits that UEFI defines but that uefi/SystemTable.h leaves out: the deprecated
// count-based authenticated write and the enhanced authenticated access.
inline constexpr uint32_t kVariableAuthenticatedWriteAccess = 0x00000010U;
inline constexpr uint32_t kVariableEnhancedAuthenticatedAccess = 0x00000080U;

struct VariableKey {
  std::u16string name;
  EFI_GUID guid;
};

// Name first, then GUID: GetNextVariableName walks the store in this order.
struct VariableKeyLess {
  bool operator()(const VariableKey &a, const VariableKey &b) const {
    if (a.name != b.name) {
      return a.name < b.name;
    }
    return GuidLess()(a.guid, b.guid);
  }
};

struct Variable {
  uint32_t attributes;  // as stored: never carries EFI_VARIABLE_APPEND_WRITE
  std::vector<uint8_t> data;
};

using VariableMap = std::map<VariableKey, Variable, VariableKeyLess>;

// Checks an attribute mask as SetVariable receives it: EFI_INVALID_PARAMETER for unknown bits,
// runtime access without boot-service access, or a hardware error record that is not
// non-volatile with both kinds of access; EFI_UNSUPPORTED for the authenticated kinds, which this
// store does not implement.
EFI_STATUS CheckVariableAttributes(uint32_t attributes);

}  // namespace sim

#endif  // SIM_UEFI_VARIABLE_H_
