#include "sim/uefi/PoolAllocator.h"

#include <cstring>
#include <iterator>

#include "sim/uefi/MemoryTypes.h"

namespace sim {

namespace {

constexpr uint64_t kChunkBytes = PoolAllocator::kChunkPages * EFI_PAGE_SIZE;
// Blocks larger than a quarter chunk would leave chunks mostly unusable, so they get own pages.
constexpr uint64_t kLargestChunkBlock = kChunkBytes / 4;
// No simulated machine has this much DRAM; the cap keeps the span arithmetic from overflowing.
constexpr uint64_t kLargestRequest = 1ULL << 48;
constexpr uint8_t kGuardPattern = 0xCB;

uint64_t RoundUp(uint64_t value, uint64_t alignment) { return (value + alignment - 1) & ~(alignment - 1); }

}  // namespace

PoolAllocator::PoolAllocator(PhysicalMemory &memory, Diagnostics diagnostics)
    : memory_(memory), diagnostics_(std::move(diagnostics)) {}

EFI_STATUS PoolAllocator::Allocate(uint32_t memoryType, uint64_t size, void **buffer) {
  if (buffer == nullptr || !IsAllocatableMemoryType(memoryType)) {
    return EFI_INVALID_PARAMETER;
  }
  if (size > kLargestRequest) {
    return EFI_OUT_OF_RESOURCES;
  }
  const uint64_t span = RoundUp(size + kGuardBytes, kAlignment);
  uint64_t address = 0;
  uint64_t chunkBase = 0;
  if (span > kLargestChunkBlock) {
    if (memory_.AllocatePages(AllocateAnyPages, memoryType, EFI_SIZE_TO_PAGES(span), address, PageOwner::Pool) !=
        EFI_SUCCESS) {
      return EFI_OUT_OF_RESOURCES;
    }
  } else {
    std::optional<uint64_t> carved = CarveFromChunks(memoryType, span);
    if (!carved) {
      return EFI_OUT_OF_RESOURCES;
    }
    address = *carved;
    chunkBase = std::prev(chunks_.upper_bound(address))->first;
  }
  const Block block{size, span, chunkBase};
  std::memset(reinterpret_cast<void *>(address + size), kGuardPattern, span - size);
  blocks_.emplace(address, block);
  *buffer = reinterpret_cast<void *>(address);
  return EFI_SUCCESS;
}

EFI_STATUS PoolAllocator::Free(void *buffer) {
  auto it = blocks_.find(reinterpret_cast<uint64_t>(buffer));
  if (it == blocks_.end()) {
    return EFI_INVALID_PARAMETER;
  }
  const uint64_t address = it->first;
  const Block block = it->second;
  CheckGuard(address, block);
  blocks_.erase(it);
  if (block.chunkBase == 0) {
    memory_.FreePages(address, EFI_SIZE_TO_PAGES(block.span), PageOwner::Pool);
  } else {
    ReturnToChunk(block.chunkBase, address, block.span);
  }
  return EFI_SUCCESS;
}

std::optional<uint64_t> PoolAllocator::CarveFromChunks(uint32_t memoryType, uint64_t span) {
  for (auto &[base, chunk] : chunks_) {
    if (chunk.type != memoryType) {
      continue;
    }
    for (auto hole = chunk.holes.begin(); hole != chunk.holes.end(); ++hole) {
      if (hole->second < span) {
        continue;
      }
      const uint64_t address = hole->first;
      const uint64_t rest = hole->second - span;
      chunk.holes.erase(hole);
      if (rest != 0) {
        chunk.holes.emplace(address + span, rest);
      }
      chunk.used += span;
      return address;
    }
  }
  uint64_t base = 0;
  if (memory_.AllocatePages(AllocateAnyPages, memoryType, kChunkPages, base, PageOwner::Pool) != EFI_SUCCESS) {
    return std::nullopt;
  }
  Chunk chunk{memoryType, span, {}};
  chunk.holes.emplace(base + span, kChunkBytes - span);
  chunks_.emplace(base, std::move(chunk));
  return base;
}

void PoolAllocator::ReturnToChunk(uint64_t chunkBase, uint64_t address, uint64_t span) {
  Chunk &chunk = chunks_.at(chunkBase);
  chunk.used -= span;
  if (chunk.used == 0) {
    // An empty chunk goes back to the page allocator, so the memory map shows no stale pool.
    memory_.FreePages(chunkBase, kChunkPages, PageOwner::Pool);
    chunks_.erase(chunkBase);
    return;
  }
  auto next = chunk.holes.lower_bound(address);
  uint64_t start = address;
  uint64_t length = span;
  if (next != chunk.holes.end() && next->first == address + span) {
    length += next->second;
    next = chunk.holes.erase(next);
  }
  if (next != chunk.holes.begin()) {
    auto previous = std::prev(next);
    if (previous->first + previous->second == address) {
      start = previous->first;
      length += previous->second;
      chunk.holes.erase(previous);
    }
  }
  chunk.holes.emplace(start, length);
}

void PoolAllocator::CheckGuard(uint64_t address, const Block &block) const {
  const auto *guard = reinterpret_cast<const uint8_t *>(address + block.size);
  for (uint64_t index = 0; index < block.span - block.size; index++) {
    if (guard[index] != kGuardPattern) {
      diagnostics_("pool block at " + Hex(address) + " of " + Hex(block.size) +
                   " bytes was written past its end (byte " + Hex(block.size + index) + " changed) before FreePool");
      return;
    }
  }
}

}  // namespace sim
