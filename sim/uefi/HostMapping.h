// Backing simulated DRAM with host memory at the very same addresses, so that the driver can use
// a physical address as a pointer just as it does under identity-mapped DXE paging.
#ifndef SIM_UEFI_HOST_MAPPING_H_
#define SIM_UEFI_HOST_MAPPING_H_

#include <cstdint>

namespace sim {

// Maps zero-filled read-write memory at exactly [address, address + length). Returns 0, or
// the errno that explains why the host could not place memory there (EEXIST when the host already
// uses part of the range). Never replaces an existing host mapping.
int MapHostPages(uint64_t address, uint64_t length);

// Gives the host memory of a range mapped by MapHostPages back. While reuse is on, up to a limit
// the memory stays mapped, unseen by anyone, and a later MapHostPages of addresses inside it
// reuses it (cleared to zero) instead of mapping anew; a request that only overlaps it unmaps the
// overlap first.
void UnmapHostPages(uint64_t address, uint64_t length);

// Turns that reuse on for processes that boot machine after machine (benchmarks, ccxsim's runs);
// off (the default) gives every kept range back at once. A process that places host mappings of
// its own at fixed addresses in simulated DRAM must leave it off, or kept memory may be there.
void KeepHostPagesForReuse(bool Keep);

}  // namespace sim

#endif  // SIM_UEFI_HOST_MAPPING_H_
