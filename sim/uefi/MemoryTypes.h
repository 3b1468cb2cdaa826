// Facts about EFI_MEMORY_TYPE values that the page allocator, the pool and the reports share.
#ifndef SIM_UEFI_MEMORY_TYPES_H_
#define SIM_UEFI_MEMORY_TYPES_H_

#include <cstdint>
#include <cstring>
#include <string>

#include "uefi/SystemTable.h"

namespace sim {

// The first value of the ranges that UEFI reserves for OEM (0x70000000) and OS loader
// (0x80000000 and up) memory types; both may be allocated.
inline constexpr uint32_t kFirstOemMemoryType = 0x70000000U;

// True for the types AllocatePages and AllocatePool accept: the standard types except free
// (conventional), persistent and unaccepted memory, plus the OEM and OS ranges.
bool IsAllocatableMemoryType(uint32_t type);

// Cache and runtime attributes of a range of this type as the memory map reports them.
uint64_t MemoryAttributesOf(uint32_t type);

// The standard name ("EfiBootServicesData"), or "OEM 0x..." / "OS 0x..." for the open ranges.
std::string MemoryTypeName(uint32_t type);

// Reads an enum argument that arrived through a firmware call as the 32-bit value the caller
// passed. UEFI lets callers pass values beyond the enumerators (OEM memory types), which C++
// would not let us load through the enum type itself.
template <typename Enum>
uint32_t RawEnumValue(const Enum &value) {
  static_assert(sizeof(Enum) == sizeof(uint32_t), "UEFI enums are 32-bit");
  uint32_t raw;
  std::memcpy(&raw, &value, sizeof(raw));
  return raw;
}

}  // namespace sim

#endif  // SIM_UEFI_MEMORY_TYPES_H_
