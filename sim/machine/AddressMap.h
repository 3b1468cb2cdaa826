// The physical address map a machine description lays out: its DRAM and SMRAM, the PCI
// configuration window that the BSP's reset value of MSR 0xC0010058 places, the security
// coprocessor's MMIO block, the fabric MMIO pool and the chipset's fixed register blocks. A
// description whose map cannot be is refused when it is read, at the field that gives the range,
// rather than booted into a machine that stops or silently programs registers past the processor.
#ifndef SIM_MACHINE_ADDRESS_MAP_H_
#define SIM_MACHINE_ADDRESS_MAP_H_

#include <cstdint>
#include <optional>

namespace sim {

class JsonCursor;
struct Machine;

// Where segment 0 of the PCI configuration window starts and how many 256 MB segments it has.
struct PciConfigurationWindow {
  uint64_t Base = 0;
  uint32_t Segments = 1;
};

// The window the BSP's reset value of MSR 0xC0010058 gives: its base with the control bits clear,
// and the segments its bus-range exponent needs (at most 8). Nothing when the BSP has no such value.
std::optional<PciConfigurationWindow> ConfigurationWindowOf(const Machine &Description);

// The BSP's physical address width, from CPUID 0x80000008 EAX[7:0]; the architectural 52 bits
// when the description gives none (or more).
unsigned PhysicalAddressBits(const Machine &Description);

// Refuses, naming the field that gives it: a description without MSR 0xC0010058 for the BSP
// (the driver finds the configuration window through it, and the simulator's window would be
// elsewhere), a window base that is not 256 MB aligned, a range that ends above the physical
// address width, and two ranges that overlap. Root is the cursor of the description's top.
void CheckAddressMap(const JsonCursor &Root, const Machine &Description);

}  // namespace sim

#endif  // SIM_MACHINE_ADDRESS_MAP_H_
