#include "sim/uefi/HostMapping.h"

#include <sys/mman.h>

#include <cerrno>

namespace sim {

int MapHostPages(uint64_t address, uint64_t length) {
  void *wanted = reinterpret_cast<void *>(address);
  void *placed = mmap(wanted, length, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE | MAP_NORESERVE, -1, 0);
  if (placed == MAP_FAILED) {
    return errno;
  }
  if (placed != wanted) {
    // Kernels older than 4.17 take MAP_FIXED_NOREPLACE as a mere hint and place the memory
    // elsewhere; for identity mapping that is the same failure as a collision.
    munmap(placed, length);
    return EEXIST;
  }
  return 0;
}

void UnmapHostPages(uint64_t address, uint64_t length) { munmap(reinterpret_cast<void *>(address), length); }

}  // namespace sim
