#include "tests/support/HostPages.h"

#include <sys/mman.h>

namespace fake {

HostPages::~HostPages() {
  for (const auto &[Base, Length] : Regions_) munmap(reinterpret_cast<void *>(Base), Length);
}

uint64_t HostPages::Map(uint64_t Length) {
  if (Length == 0) return 0;
  void *Base = mmap(nullptr, Length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (Base == MAP_FAILED) return 0;
  Regions_.emplace_back(reinterpret_cast<uint64_t>(Base), Length);
  return reinterpret_cast<uint64_t>(Base);
}

bool HostPages::Contains(uint64_t Address, uint64_t Length) const {
  for (const auto &[Base, Size] : Regions_) {
    if (Address >= Base && Length <= Size && Address - Base <= Size - Length) return true;
  }
  return false;
}

}  // namespace fake
