// Backing simulated DRAM with host memory at the very same addresses, so that the driver can use
// a physical address as a pointer just as it does under identity-mapped DXE paging.
#ifndef SIM_UEFI_HOST_MAPPING_H_
#define SIM_UEFI_HOST_MAPPING_H_

#include <cstdint>

namespace sim {

// Maps fresh anonymous read-write memory at exactly [address, address + length). Returns 0, or
// the errno that explains why the host could not place memory there (EEXIST when the host already
// uses part of the range). Never replaces an existing host mapping.
int MapHostPages(uint64_t address, uint64_t length);

// Gives the host memory of a range mapped by MapHostPages back.
void UnmapHostPages(uint64_t address, uint64_t length);

}  // namespace sim

#endif  // SIM_UEFI_HOST_MAPPING_H_
