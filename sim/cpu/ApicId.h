// How the hardware numbers its threads: the local APIC ID of a topology position is built from
// fields whose widths follow the machine's maxima, as the core topology register reports them.
// The simulated processors are numbered with exactly these rules, so the APIC ID the driver
// computes from the register can be checked against the one the processor reports.
#ifndef SIM_CPU_APIC_ID_H_
#define SIM_CPU_APIC_ID_H_

#include <cstdint>

#include "sim/cpu/Topology.h"

namespace sim {

// The inputs of the numbering: the largest index of each level that takes part (the die does
// not), the core-field padding flag and the number of threads per core.
struct ApicIdMaxima {
  uint32_t SocketMax = 0;
  uint32_t ComplexDieMax = 0;
  uint32_t ComplexMax = 0;
  uint32_t CoreMax = 0;
  bool CoreFieldPadding = false;
  uint32_t ThreadsPerCore = 1;

  bool operator==(const ApicIdMaxima &) const = default;
};

// The bit where each field of an APIC ID starts; the thread field starts at bit 0.
struct ApicIdLayout {
  uint32_t CoreShift = 0;
  uint32_t ComplexShift = 0;
  uint32_t ComplexDieShift = 0;
  uint32_t SocketShift = 0;

  bool operator==(const ApicIdLayout &) const = default;
};

// The number of significant bits of Value; 0 has none.
uint32_t SignificantBits(uint32_t Value);

// Throws std::invalid_argument when a maximum does not fit its register field or the thread count
// is outside 1 to 2.
ApicIdLayout LayoutOf(const ApicIdMaxima &Maxima);

// The APIC ID of Position. Throws std::out_of_range when an index lies above its maximum: such a
// position would share its number with another thread.
uint32_t ApicIdOf(const ApicIdMaxima &Maxima, const TopologyPosition &Position);

// The maxima of a machine: one less than the largest count of each level, and the largest
// thread count of any core. A machine with folded complexes reports twice its complex dies, each
// with one complex (see FoldedPosition).
ApicIdMaxima MaximaOf(const Topology &Machine, bool CoreFieldPadding, bool FoldedComplexes = false);

// Where a machine whose complex dies hold two complexes each, presented folded, numbers a thread:
// complex 1 of complex die d counts as complex 0 of complex die d + ComplexDies, ComplexDies being
// the most complex dies any die of the machine has. Complex 0 keeps its place.
TopologyPosition FoldedPosition(const TopologyPosition &Position, uint32_t ComplexDies);

// The core topology register holding Maxima, and back. The register does not carry the thread
// count, which the processor reports through CPUID.
uint32_t CoreTopologyRegisterValue(const ApicIdMaxima &Maxima);
uint32_t CoreTopologyRegisterFor(const Topology &Machine, bool CoreFieldPadding);
ApicIdMaxima MaximaFromRegister(uint32_t Register, uint32_t ThreadsPerCore);

}  // namespace sim

#endif  // SIM_CPU_APIC_ID_H_
