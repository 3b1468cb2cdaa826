// The simulated machine's DRAM as the firmware core sees it: a page-granular memory map whose
// ranges carry a memory type, the page allocator on top of it, and host memory behind every
// allocated page at the same address.
#ifndef SIM_UEFI_PHYSICAL_MEMORY_H_
#define SIM_UEFI_PHYSICAL_MEMORY_H_

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "sim/uefi/Diagnostics.h"
#include "uefi/SystemTable.h"

namespace sim {

struct DramRange {
  uint64_t base;
  uint64_t length;
};

// One stretch of the memory map with a single type, as GetMemoryMap reports it.
struct MemoryRange {
  uint64_t base;
  uint64_t pages;
  uint32_t type;
};

// The type of the range of Map that holds Address, if one does.
std::optional<uint32_t> MemoryTypeIn(const std::vector<MemoryRange> &Map, uint64_t Address);

// Who took a stretch of pages. FreePages gives back only what AllocatePages handed out, so a
// driver cannot free the pages under the pool, and the pool cannot free a caller's pages.
enum class PageOwner { Free, Caller, Pool };

class PhysicalMemory {
 public:
  // Every DRAM range must be page aligned, non-empty and apart from the others; a bad range is
  // a fault in the machine description and throws std::invalid_argument.
  PhysicalMemory(std::vector<DramRange> dram, Diagnostics diagnostics);
  ~PhysicalMemory();
  PhysicalMemory(const PhysicalMemory &) = delete;
  PhysicalMemory &operator=(const PhysicalMemory &) = delete;

  // AllocatePages: `address` is the maximum address for AllocateMaxAddress, the requested base
  // for AllocateAddress, and on success the base of the allocation.
  EFI_STATUS AllocatePages(uint32_t allocateType, uint32_t memoryType, uint64_t pages, uint64_t &address,
                           PageOwner owner = PageOwner::Caller);
  EFI_STATUS FreePages(uint64_t address, uint64_t pages, PageOwner owner = PageOwner::Caller);
  EFI_STATUS GetMemoryMap(UINTN *mapSize, EFI_MEMORY_DESCRIPTOR *map, UINTN *mapKey, UINTN *descriptorSize,
                          UINT32 *descriptorVersion) const;

  // The map with adjacent ranges of the same type merged, lowest address first.
  std::vector<MemoryRange> Map() const;
  // True when every byte of the range lies in allocated (hence host-backed) pages. Device
  // models may ask from processor threads while the boot thread waits in MP services, since
  // nothing changes the map then.
  bool IsMapped(uint64_t address, uint64_t length) const;
  // The memory type of the page holding `address`; nothing outside DRAM.
  std::optional<uint32_t> TypeAt(uint64_t address) const;
  const std::vector<DramRange> &Dram() const { return dram_; }
  // Changes whenever the map changes, as the MapKey of GetMemoryMap does.
  uint64_t MapKey() const { return mapKey_; }

  // Descriptors are reported 8 bytes larger than EFI_MEMORY_DESCRIPTOR, as most firmware does,
  // so that a caller stepping by sizeof instead of the returned size is caught in simulation.
  static constexpr UINTN kDescriptorSize = sizeof(EFI_MEMORY_DESCRIPTOR) + 8;

 private:
  struct Block {
    uint64_t pages;
    uint32_t type;
    PageOwner owner;
  };
  using Blocks = std::map<uint64_t, Block>;

  std::optional<uint64_t> FindTopDown(uint64_t pages, uint64_t limitEnd) const;
  bool RangeOwnedBy(uint64_t base, uint64_t pages, PageOwner owner) const;
  Blocks::const_iterator BlockHolding(uint64_t address) const;
  Blocks::iterator SplitAt(uint64_t address);
  void Retype(uint64_t base, uint64_t pages, uint32_t type, PageOwner owner);
  void MergeFrom(Blocks::iterator first, uint64_t end);

  std::vector<DramRange> dram_;
  Diagnostics diagnostics_;
  Blocks blocks_;
  uint64_t mapKey_ = 1;
};

}  // namespace sim

#endif  // SIM_UEFI_PHYSICAL_MEMORY_H_
