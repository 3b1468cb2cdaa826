// Builds the PI hand-off block list that the pre-memory phase leaves for DXE: the handoff
// information table first, resource descriptors, GUID extension HOBs, and the end-of-list HOB,
// placed in simulated DRAM and published in the configuration table under gEfiHobListGuid.
#ifndef SIM_UEFI_HOB_LIST_BUILDER_H_
#define SIM_UEFI_HOB_LIST_BUILDER_H_

#include <cstdint>
#include <span>
#include <vector>

#include "sim/uefi/PhysicalMemory.h"
#include "sim/uefi/SystemTables.h"
#include "uefi/Hob.h"

namespace sim {

// Resource attribute bits of resource descriptor HOBs, which uefi/Hob.h does not define.
inline constexpr EFI_RESOURCE_ATTRIBUTE_TYPE kResourcePresent = 0x00000001;
inline constexpr EFI_RESOURCE_ATTRIBUTE_TYPE kResourceInitialized = 0x00000002;
inline constexpr EFI_RESOURCE_ATTRIBUTE_TYPE kResourceTested = 0x00000004;
inline constexpr EFI_RESOURCE_ATTRIBUTE_TYPE kResourceUncacheable = 0x00000400;
inline constexpr EFI_RESOURCE_ATTRIBUTE_TYPE kResourceWriteCombineable = 0x00000800;
inline constexpr EFI_RESOURCE_ATTRIBUTE_TYPE kResourceWriteThroughCacheable = 0x00001000;
inline constexpr EFI_RESOURCE_ATTRIBUTE_TYPE kResourceWriteBackCacheable = 0x00002000;

// What tested DRAM carries: present, initialized, tested, and every cacheability it supports.
inline constexpr EFI_RESOURCE_ATTRIBUTE_TYPE kTestedDramAttributes =
    kResourcePresent | kResourceInitialized | kResourceTested | kResourceUncacheable | kResourceWriteCombineable |
    kResourceWriteThroughCacheable | kResourceWriteBackCacheable;

class HobListBuilder {
 public:
  HobListBuilder &SetBootMode(EFI_BOOT_MODE bootMode);
  HobListBuilder &AddResourceDescriptor(EFI_RESOURCE_TYPE type, EFI_RESOURCE_ATTRIBUTE_TYPE attributes, uint64_t start,
                                        uint64_t length, const EFI_GUID &owner = {});
  // The data follows the name; the HOB is padded with zeros to a multiple of 8 bytes. Throws
  // std::length_error when the HOB would not fit its 16-bit length.
  HobListBuilder &AddGuidHob(const EFI_GUID &name, std::span<const uint8_t> data);
  // Appends bytes exactly as given, in order with the other HOBs, so that tests can hand the
  // driver a deliberately malformed list (a bad length, a truncated HOB, an unknown type).
  HobListBuilder &AppendRaw(std::span<const uint8_t> bytes);
  // Leaves the end-of-list HOB out, for tests of a list that never ends.
  HobListBuilder &OmitEndOfList();

  // Total bytes of the list, end-of-list HOB included.
  uint64_t Size() const;
  // The list as it reads when placed at `base`, with the handoff table describing the memory
  // from `base` to `memoryTop` and the list's own end.
  std::vector<uint8_t> Bytes(uint64_t base, uint64_t memoryTop) const;

  // Places the list in EfiBootServicesData pages, with a tested system-memory resource
  // descriptor for every DRAM range ahead of the HOBs added here, and registers it in the
  // configuration table. Returns its address; throws std::runtime_error when no pages can be had.
  EFI_PHYSICAL_ADDRESS Install(PhysicalMemory &memory, SystemTables &tables) const;

 private:
  EFI_BOOT_MODE bootMode_ = BOOT_WITH_FULL_CONFIGURATION;
  bool endOfList_ = true;
  std::vector<std::vector<uint8_t>> hobs_;
};

}  // namespace sim

#endif  // SIM_UEFI_HOB_LIST_BUILDER_H_
