// The shared heap as the boot left it: the buffers of the list that QORVEX_HEAP_PROTOCOL
// publishes, read from simulated memory without trusting the list. A node that doesn't lie in
// allocated memory ends the walk with the problem named, as does a list that doesn't come back to
// its head.
#ifndef SIM_PLATFORM_HEAP_SNAPSHOT_H_
#define SIM_PLATFORM_HEAP_SNAPSHOT_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/uefi/UefiCore.h"

namespace sim {

struct HeapBufferView {
  uint32_t Handle = 0;
  uint32_t Size = 0;
  uint8_t Persistence = 0;
  uint8_t Valid = 0;
  uint32_t Signature = 0;
  uint64_t Address = 0;                // of the data
  std::optional<uint32_t> MemoryType;  // of the page holding the node
  std::vector<uint8_t> FirstBytes;     // up to kBytesShown of the data
};

struct HeapSnapshot {
  bool Published = false;
  std::vector<HeapBufferView> Buffers;  // in list order
  std::string Problem;
  static constexpr size_t kBytesShown = 16;
  static constexpr size_t kMostNodes = 100000;
};

// Where the walk may read: whether bytes are in allocated memory, and the memory type of a page.
struct HeapMemoryView {
  std::function<bool(uint64_t Address, uint64_t Length)> IsMapped;
  std::function<std::optional<uint32_t>(uint64_t Address)> TypeAt;
};

HeapSnapshot TakeHeapSnapshot(UefiCore &Core);
// The same for a heap record at Record (the protocol's interface), read through View.
HeapSnapshot TakeHeapSnapshot(const void *Record, const HeapMemoryView &View);

}  // namespace sim

#endif  // SIM_PLATFORM_HEAP_SNAPSHOT_H_
