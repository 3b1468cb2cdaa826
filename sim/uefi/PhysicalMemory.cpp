#include "sim/uefi/PhysicalMemory.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "sim/uefi/HostMapping.h"
#include "sim/uefi/MemoryTypes.h"

namespace sim {

namespace {

constexpr uint64_t kPageMask = EFI_PAGE_SIZE - 1;
// Page counts above this would overflow a 64-bit byte length.
constexpr uint64_t kMaxPages = UINT64_MAX >> EFI_PAGE_SHIFT;

uint64_t EndOf(uint64_t base, uint64_t pages) { return base + (pages << EFI_PAGE_SHIFT); }

}  // namespace

std::optional<uint32_t> MemoryTypeIn(const std::vector<MemoryRange> &Map, uint64_t Address) {
  for (const MemoryRange &Range : Map) {
    if (Address >= Range.base && Address - Range.base < (Range.pages << EFI_PAGE_SHIFT)) return Range.type;
  }
  return std::nullopt;
}

PhysicalMemory::PhysicalMemory(std::vector<DramRange> dram, Diagnostics diagnostics)
    : dram_(std::move(dram)), diagnostics_(std::move(diagnostics)) {
  std::sort(dram_.begin(), dram_.end(), [](const DramRange &a, const DramRange &b) { return a.base < b.base; });
  uint64_t previousEnd = 0;
  for (const DramRange &range : dram_) {
    // Keeping the last page of the address space out of DRAM lets every range end be computed
    // without overflow.
    if (range.length == 0 || ((range.base | range.length) & kPageMask) != 0 ||
        range.length > UINT64_MAX - EFI_PAGE_SIZE || range.base > UINT64_MAX - EFI_PAGE_SIZE - range.length) {
      throw std::invalid_argument("DRAM range at " + Hex(range.base) + " of " + Hex(range.length) +
                                  " bytes is empty, not page aligned or reaches the top of the address space");
    }
    if (range.base < previousEnd) {
      throw std::invalid_argument("DRAM range at " + Hex(range.base) + " overlaps the range before it");
    }
    previousEnd = range.base + range.length;
    blocks_[range.base] = Block{range.length >> EFI_PAGE_SHIFT, EfiConventionalMemory, PageOwner::Free};
  }
  MergeFrom(blocks_.begin(), UINT64_MAX);
}

PhysicalMemory::~PhysicalMemory() {
  for (const auto &[base, block] : blocks_) {
    if (block.owner != PageOwner::Free) {
      UnmapHostPages(base, block.pages << EFI_PAGE_SHIFT);
    }
  }
}

EFI_STATUS PhysicalMemory::AllocatePages(uint32_t allocateType, uint32_t memoryType, uint64_t pages, uint64_t &address,
                                         PageOwner owner) {
  if (allocateType >= MaxAllocateType || !IsAllocatableMemoryType(memoryType) || pages == 0 ||
      owner == PageOwner::Free) {
    return EFI_INVALID_PARAMETER;
  }
  std::optional<uint64_t> base;
  if (allocateType == AllocateAddress) {
    if ((address & kPageMask) == 0 && pages <= kMaxPages && RangeOwnedBy(address, pages, PageOwner::Free)) {
      base = address;
    }
    if (!base) {
      return EFI_NOT_FOUND;
    }
  } else {
    // The allocation must end at or below the limit: its last byte may be the maximum address.
    uint64_t limitEnd = UINT64_MAX & ~kPageMask;
    if (allocateType == AllocateMaxAddress && address < limitEnd) {
      limitEnd = (address + 1) & ~kPageMask;
    }
    if (pages <= kMaxPages) {
      base = FindTopDown(pages, limitEnd);
    }
    if (!base) {
      return EFI_OUT_OF_RESOURCES;
    }
  }
  const uint64_t length = pages << EFI_PAGE_SHIFT;
  if (int error = MapHostPages(*base, length); error != 0) {
    diagnostics_("cannot back " + Hex(length) + " bytes of simulated DRAM at " + Hex(*base) +
                 " with host memory at the same address: " + std::strerror(error) +
                 "; the allocation fails with EFI_OUT_OF_RESOURCES");
    return EFI_OUT_OF_RESOURCES;
  }
  Retype(*base, pages, memoryType, owner);
  address = *base;
  return EFI_SUCCESS;
}

EFI_STATUS PhysicalMemory::FreePages(uint64_t address, uint64_t pages, PageOwner owner) {
  if ((address & kPageMask) != 0 || pages == 0 || pages > kMaxPages || owner == PageOwner::Free) {
    return EFI_INVALID_PARAMETER;
  }
  if (!RangeOwnedBy(address, pages, owner)) {
    return EFI_NOT_FOUND;
  }
  Retype(address, pages, EfiConventionalMemory, PageOwner::Free);
  UnmapHostPages(address, pages << EFI_PAGE_SHIFT);
  return EFI_SUCCESS;
}

EFI_STATUS PhysicalMemory::GetMemoryMap(UINTN *mapSize, EFI_MEMORY_DESCRIPTOR *map, UINTN *mapKey,
                                        UINTN *descriptorSize, UINT32 *descriptorVersion) const {
  if (mapSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const std::vector<MemoryRange> ranges = Map();
  const UINTN needed = ranges.size() * kDescriptorSize;
  if (descriptorSize != nullptr) {
    *descriptorSize = kDescriptorSize;
  }
  if (descriptorVersion != nullptr) {
    *descriptorVersion = EFI_MEMORY_DESCRIPTOR_VERSION;
  }
  if (*mapSize < needed) {
    *mapSize = needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (map == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto *out = reinterpret_cast<uint8_t *>(map);
  for (const MemoryRange &range : ranges) {
    EFI_MEMORY_DESCRIPTOR descriptor{};
    descriptor.Type = range.type;
    descriptor.PhysicalStart = range.base;
    descriptor.NumberOfPages = range.pages;
    descriptor.Attribute = MemoryAttributesOf(range.type);
    std::memset(out, 0, kDescriptorSize);
    std::memcpy(out, &descriptor, sizeof(descriptor));
    out += kDescriptorSize;
  }
  *mapSize = needed;
  if (mapKey != nullptr) {
    *mapKey = mapKey_;
  }
  return EFI_SUCCESS;
}

std::vector<MemoryRange> PhysicalMemory::Map() const {
  std::vector<MemoryRange> ranges;
  for (const auto &[base, block] : blocks_) {
    // Blocks of one type that differ only in owner are one range to anyone reading the map.
    if (!ranges.empty() && ranges.back().type == block.type && EndOf(ranges.back().base, ranges.back().pages) == base) {
      ranges.back().pages += block.pages;
    } else {
      ranges.push_back(MemoryRange{base, block.pages, block.type});
    }
  }
  return ranges;
}

bool PhysicalMemory::IsMapped(uint64_t address, uint64_t length) const {
  if (length == 0) {
    return true;
  }
  if (address > UINT64_MAX - length) {
    return false;
  }
  const uint64_t first = address & ~kPageMask;
  const uint64_t last = (address + length - 1) & ~kPageMask;
  uint64_t cursor = first;
  // The block holding the first page may begin before it; every later block must follow on.
  for (auto it = BlockHolding(first); it != blocks_.end() && it->first <= last; ++it) {
    if (it->first > cursor || it->second.owner == PageOwner::Free) {
      return false;
    }
    cursor = EndOf(it->first, it->second.pages);
    if (cursor > last) {
      return true;
    }
  }
  return false;
}

std::optional<uint32_t> PhysicalMemory::TypeAt(uint64_t address) const {
  auto it = BlockHolding(address);
  if (it == blocks_.end()) {
    return std::nullopt;
  }
  return it->second.type;
}

std::optional<uint64_t> PhysicalMemory::FindTopDown(uint64_t pages, uint64_t limitEnd) const {
  const uint64_t length = pages << EFI_PAGE_SHIFT;
  for (auto it = blocks_.rbegin(); it != blocks_.rend(); ++it) {
    if (it->second.owner != PageOwner::Free || it->first >= limitEnd) {
      continue;
    }
    const uint64_t top = std::min(EndOf(it->first, it->second.pages), limitEnd);
    if (top - it->first >= length) {
      return top - length;
    }
  }
  return std::nullopt;
}

bool PhysicalMemory::RangeOwnedBy(uint64_t base, uint64_t pages, PageOwner owner) const {
  if (base > UINT64_MAX - (pages << EFI_PAGE_SHIFT)) {
    return false;
  }
  const uint64_t end = EndOf(base, pages);
  uint64_t cursor = base;
  for (auto it = BlockHolding(base); it != blocks_.end() && cursor < end; ++it) {
    if (it->first > cursor || it->second.owner != owner) {
      return false;
    }
    cursor = EndOf(it->first, it->second.pages);
  }
  return cursor >= end;
}

PhysicalMemory::Blocks::const_iterator PhysicalMemory::BlockHolding(uint64_t address) const {
  auto it = blocks_.upper_bound(address);
  if (it == blocks_.begin()) {
    return blocks_.end();
  }
  --it;
  return address < EndOf(it->first, it->second.pages) ? it : blocks_.end();
}

PhysicalMemory::Blocks::iterator PhysicalMemory::SplitAt(uint64_t address) {
  auto it = blocks_.upper_bound(address);
  --it;  // Callers split only inside DRAM, so a block starts at or below the address.
  if (it->first == address) {
    return it;
  }
  const uint64_t headPages = (address - it->first) >> EFI_PAGE_SHIFT;
  Block tail = it->second;
  tail.pages -= headPages;
  it->second.pages = headPages;
  return blocks_.emplace_hint(std::next(it), address, tail);
}

void PhysicalMemory::Retype(uint64_t base, uint64_t pages, uint32_t type, PageOwner owner) {
  const uint64_t end = EndOf(base, pages);
  auto first = SplitAt(base);
  if (BlockHolding(end) != blocks_.end()) {
    SplitAt(end);
  }
  for (auto it = first; it != blocks_.end() && it->first < end; ++it) {
    it->second.type = type;
    it->second.owner = owner;
  }
  MergeFrom(first == blocks_.begin() ? first : std::prev(first), end);
  mapKey_++;
}

void PhysicalMemory::MergeFrom(Blocks::iterator first, uint64_t end) {
  auto it = first;
  while (it != blocks_.end()) {
    auto next = std::next(it);
    if (next == blocks_.end() || it->first > end) {
      break;
    }
    if (EndOf(it->first, it->second.pages) == next->first && it->second.type == next->second.type &&
        it->second.owner == next->second.owner) {
      it->second.pages += next->second.pages;
      blocks_.erase(next);
    } else {
      it = next;
    }
  }
}

}  // namespace sim
