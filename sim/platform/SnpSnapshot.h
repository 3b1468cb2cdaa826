// Secure nested paging as the boot left it: the BSP's RMP base, RMP end and SYSCFG, the
// processors that hold the same three values, and whether the table those bounds describe lies in
// reserved memory.
#ifndef SIM_PLATFORM_SNP_SNAPSHOT_H_
#define SIM_PLATFORM_SNP_SNAPSHOT_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/cpu/ProcessorSet.h"
#include "sim/uefi/PhysicalMemory.h"

namespace sim {

struct SnpSnapshot {
  // The BSP's values.
  uint64_t RmpBaseMsr = 0;
  uint64_t RmpEndMsr = 0;
  uint64_t SysCfg = 0;
  // Processors whose three values equal the BSP's, the BSP included.
  std::vector<size_t> Agreeing;
  // The table's first and last byte as the bounds give them; both 0 when no table was set up.
  uint64_t TableFirst = 0;
  uint64_t TableLast = 0;
  // Every page of the table lies in DRAM of EfiReservedMemoryType.
  bool TableReserved = false;
};

SnpSnapshot TakeSnpSnapshot(ProcessorSet &Processors, const PhysicalMemory &Memory);

}  // namespace sim

#endif  // SIM_PLATFORM_SNP_SNAPSHOT_H_
