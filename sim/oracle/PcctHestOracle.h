// What the PCC subspace service and the machine-check bank service must answer on the simulated
// machine. The subspace points at a shared region that the service sets up during the call, so
// the machine is looked at before the call (memory map, variable MTRRs, MMIO windows, registered
// regions) and after it: the region must be the one the new ACPI NVS pages hold, signed and
// zeroed, covered by an uncacheable MTRR on every processor, registered with the region service,
// and a 1 MiB MMIO window must have been asked for.
#ifndef SIM_ORACLE_PCCT_HEST_ORACLE_H_
#define SIM_ORACLE_PCCT_HEST_ORACLE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "interfaces/CcxMcaServices.h"
#include "interfaces/CcxPcctServices.h"
#include "sim/platform/Platform.h"
#include "sim/uefi/PhysicalMemory.h"

namespace sim {

// The parts of the machine that a subspace call changes, as they were before it.
struct PcctMachineState {
  std::vector<MemoryRange> MemoryMap;
  // The bootstrap processor's variable MTRR masks, MTRR 0 to 7.
  std::vector<uint64_t> MtrrMasks;
  size_t MmioAllocations = 0;
  size_t Regions = 0;
  size_t ImagePages = 0;  // inside real firmware: how many page allocations the image held
};

PcctMachineState CapturePcctState(Platform &Machine);

// The shared region: 0x18000 bytes carved out of 48 pages of ACPI NVS memory.
constexpr uint64_t kPccRegionLength = 0x18000;
constexpr uint64_t kPccRegionPages = 48;

// The variable MTRR pair that covers a region at Base on every processor: uncacheable, 64 KiB,
// within the processor's physical address width.
struct PccMtrrPair {
  uint64_t Base = 0;
  uint64_t Mask = 0;
};
PccMtrrPair ExpectedPccMtrrPair(Platform &Machine, uint64_t Base);

// The bases of the PCC regions registered with the region service so far, in order.
std::vector<uint64_t> RegisteredPccRegions(Platform &Machine);

// Received is null when the call did not write a whole subspace (an error status, or a write
// pointer not moved past one).
void CheckPcctSubspace(Platform &Machine, const PcctMachineState &Before, const CCX_PCC_SUBSPACE_INPUT &Input,
                       uint64_t Status, const CCX_PCCT_GENERIC_SUBSPACE *Received, std::vector<std::string> &Errors);

// The bank description the machine's processors have.
constexpr uint8_t kMcaBanks = 28;
CCX_MCA_BANK_ENTRY ExpectedMcaBank(uint8_t Bank);

// Compares the description the service handed out; reads at most kMcaBanks entries of its array.
void CheckMcaBankInfo(uint64_t Status, const CCX_MCA_BANK_INFO *Received, std::vector<std::string> &Errors);

}  // namespace sim

#endif  // SIM_ORACLE_PCCT_HEST_ORACLE_H_
