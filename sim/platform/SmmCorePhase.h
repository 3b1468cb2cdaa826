// The SMM core's use of EFI_SMM_ACCESS2_PROTOCOL late in the boot, played as the SMM core does
// it: learn the SMRAM map (size first, then the map), open SMRAM to load itself, close it, lock it
// for the rest of the boot, and read the map again. What every call returned and the protocol's
// states after it are kept for the report, with the SMM range registers every processor shows.
#ifndef SIM_PLATFORM_SMM_CORE_PHASE_H_
#define SIM_PLATFORM_SMM_CORE_PHASE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sim/cpu/ProcessorSet.h"
#include "sim/uefi/UefiCore.h"

namespace sim {

struct SmmCoreCall {
  std::string Operation;  // "GetCapabilities", "Open", "Close", "Lock"
  uint64_t Status = 0;
  bool OpenState = false;
  bool LockState = false;
};

struct SmramMapEntry {
  uint64_t PhysicalStart = 0;
  uint64_t CpuStart = 0;
  uint64_t PhysicalSize = 0;
  uint64_t RegionState = 0;
};

struct SmmCorePhaseRecord {
  // Whether EFI_SMM_ACCESS2_PROTOCOL was installed when the phase ran.
  bool Found = false;
  std::vector<SmmCoreCall> Calls;
  // The SMRAM map as GetCapabilities reported it after the lock.
  std::vector<SmramMapEntry> Map;
};

// Plays the phase on the calling thread, which must be the BSP with the core active.
SmmCorePhaseRecord RunSmmCorePhase(UefiCore &Core);

// "OPEN|ALLOCATED" and the like; "0" for no flag.
std::string RegionStateNames(uint64_t RegionState);

// The SMM range registers of the processors that show the same values.
struct SmmRangeMsrGroup {
  uint64_t TsegBase = 0;
  uint64_t TsegMask = 0;
  uint64_t AsegMtrr = 0;  // the fixed-range MTRR of 0xA0000-0xBFFFF
  uint64_t Hwcr = 0;
  std::vector<size_t> Processors;
};

std::vector<SmmRangeMsrGroup> CollectSmmRangeMsrs(const ProcessorSet &Processors);

}  // namespace sim

#endif  // SIM_PLATFORM_SMM_CORE_PHASE_H_
