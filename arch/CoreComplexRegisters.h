// The core-complex registers the driver reads to number threads: the register block behind the
// host bridge that the fabric routes to the core complexes, with its map of enabled cores, and the
// complex-fold register of the parts that build their complex dies in pairs. The driver and the
// simulated machine both take these addresses and fields from here.
#ifndef ARCH_CORE_COMPLEX_REGISTERS_H_
#define ARCH_CORE_COMPLEX_REGISTERS_H_

#include "arch/Registers.h"

namespace Sideband {

// A 4 KB block of 32-bit registers in the sideband space. Only the low twelve bits of an offset
// select a register, so offsets 0x1000 apart reach the same one.
struct CoreComplexBlock {
  static constexpr uint32_t BaseAddress = 0x49001000;
  static constexpr uint32_t OffsetLimit = 0x2000;
  using Register = RegisterField<11, 0>;
};

// The enabled-core map: 128 bits in four registers, lowest first. Bit i stands for core i mod 8
// of the complex-die slot group i / 8; a set bit means the core is enabled.
struct EnabledCoreMap {
  static constexpr uint32_t FirstOffset = 0x140;
  static constexpr uint32_t RegisterCount = 4;
  static constexpr uint32_t BitsPerRegister = 32;
  static constexpr uint32_t CoresPerGroup = 8;
  static constexpr uint32_t Offset(uint32_t Index) { return FirstOffset + Index * 4; }
};

// Parts of this signature (CPUID 0x80000001 EAX under the family mask) build their complex dies in
// pairs: the slot groups of the enabled-core map and of the core topology registers are then
// counted per complex, two to a pair.
constexpr uint32_t PairedComplexDieSignature = 0x00AA0F00;
constexpr uint32_t PairedComplexDieGroups = 2;
// A paired part in this package can fold: it presents the second complex of every complex die as
// the only complex of a further complex die, as its complex-fold register says.
constexpr uint32_t FoldingPackageType = 8;

// One complex-fold register per pair of slot groups.
struct ComplexFold {
  static constexpr uint32_t BaseAddress = 0x308003D0;
  static constexpr uint32_t PairStride = 0x2000000;
  using Folded = RegisterBit<5>;
  static constexpr uint32_t Address(uint32_t Pair) { return BaseAddress + Pair * PairStride; }
};

}  // namespace Sideband

#endif  // ARCH_CORE_COMPLEX_REGISTERS_H_
