// The core topology register of a core complex, read through the sideband window. It holds the
// machine's maxima that fix the widths of the fields of every local APIC ID, so the driver reads it
// instead of assuming a layout, and the simulated processors are numbered from the same fields.
#ifndef ARCH_CORE_TOPOLOGY_REGISTER_H_
#define ARCH_CORE_TOPOLOGY_REGISTER_H_

#include "arch/Registers.h"

namespace Sideband {

struct CoreTopology {
  // One copy per core of every complex die: the slot of the complex die selects a 4 MB block, the
  // core a 128 KB block inside it.
  static constexpr uint32_t BaseAddress = 0x20002FEC;
  static constexpr uint32_t ComplexDieSlotStride = 0x400000;
  static constexpr uint32_t CoreStride = 0x20000;
  static constexpr uint32_t Address(uint32_t ComplexDieSlot, uint32_t Core) {
    return BaseAddress + ComplexDieSlot * ComplexDieSlotStride + Core * CoreStride;
  }

  // Set when the complex field of the APIC ID starts at bit 4 at the lowest, whatever the core
  // and thread fields need.
  using CoreFieldPadding = RegisterBit<11>;
  using CoreMax = RegisterField<19, 16>;
  using ComplexMax = RegisterBit<20>;
  using ComplexDieMax = RegisterField<24, 21>;
  using SocketMax = RegisterField<26, 25>;
};

}  // namespace Sideband

#endif  // ARCH_CORE_TOPOLOGY_REGISTER_H_
