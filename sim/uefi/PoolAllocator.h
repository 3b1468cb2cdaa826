// AllocatePool and FreePool on top of the page allocator: pool memory is simulated DRAM of the
// requested type, so a driver may keep a pool address as a physical address.
#ifndef SIM_UEFI_POOL_ALLOCATOR_H_
#define SIM_UEFI_POOL_ALLOCATOR_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>

#include "sim/uefi/Diagnostics.h"
#include "sim/uefi/PhysicalMemory.h"

namespace sim {

// Small blocks are carved from 64 KiB chunks of pages, one set of chunks per memory type; larger
// blocks get pages of their own. The block list lives outside simulated memory, so a driver that
// overruns a buffer cannot corrupt the allocator, and FreePool of a foreign pointer is refused.
// Guard bytes behind every block reveal overruns when the block is freed.
class PoolAllocator {
 public:
  PoolAllocator(PhysicalMemory &memory, Diagnostics diagnostics);
  PoolAllocator(const PoolAllocator &) = delete;
  PoolAllocator &operator=(const PoolAllocator &) = delete;

  EFI_STATUS Allocate(uint32_t memoryType, uint64_t size, void **buffer);
  EFI_STATUS Free(void *buffer);

  size_t LiveBlocks() const { return blocks_.size(); }

  static constexpr uint64_t kAlignment = 8;
  static constexpr uint64_t kChunkPages = 16;
  // Bytes of guard pattern at least behind every block.
  static constexpr uint64_t kGuardBytes = 8;

 private:
  struct Chunk {
    uint32_t type;
    uint64_t used;
    std::map<uint64_t, uint64_t> holes;  // address -> length of each free stretch
  };
  struct Block {
    uint64_t size;
    uint64_t span;       // size, guard and alignment padding together
    uint64_t chunkBase;  // 0 for a block with pages of its own
  };

  std::optional<uint64_t> CarveFromChunks(uint32_t memoryType, uint64_t span);
  void ReturnToChunk(uint64_t chunkBase, uint64_t address, uint64_t span);
  void CheckGuard(uint64_t address, const Block &block) const;

  PhysicalMemory &memory_;
  Diagnostics diagnostics_;
  std::map<uint64_t, Chunk> chunks_;
  std::map<uint64_t, Block> blocks_;
};

}  // namespace sim

#endif  // SIM_UEFI_POOL_ALLOCATOR_H_
