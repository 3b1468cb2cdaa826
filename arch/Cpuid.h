// CPUID leaves and fields the driver reads.
#ifndef ARCH_CPUID_H_
#define ARCH_CPUID_H_

#include "arch/Registers.h"

namespace CpuidLeaf {

// Family, model and feature bits; EBX also names the processor that executes the instruction.
struct Features {
  static constexpr uint32_t Leaf = 0x00000001;
  // The low eight bits of the initial local APIC ID.
  using EbxInitialApicId = RegisterField<31, 24>;
};

constexpr uint32_t ExtendedMax = 0x80000000;
constexpr uint32_t ExtendedSignature = 0x80000001;
constexpr uint32_t AddressSizes = 0x80000008;

// Secure memory encryption and secure nested paging capabilities.
struct EncryptedMemory {
  static constexpr uint32_t Leaf = 0x8000001F;
  using EaxSnp = RegisterBit<4>;
  using EaxVmpl = RegisterBit<5>;
  using EbxPhysAddrReduction = RegisterField<11, 6>;
};

// Identifiers of the processor that executes the instruction: its full APIC ID, its core and
// the number of hardware threads its core has.
struct ProcessorTopology {
  static constexpr uint32_t Leaf = 0x8000001E;
  using EaxExtendedApicId = RegisterField<31, 0>;
  using EbxCoreId = RegisterField<7, 0>;
  // Holds the number of threads per core less one.
  using EbxThreadsPerCoreMinusOne = RegisterField<15, 8>;
};

// The simulation back-door: a processor that answers it leaves a non-zero value in SI.
constexpr uint32_t BackdoorLeaf = 0xBACCD00B;
constexpr uint32_t BackdoorEbx = 2;

}  // namespace CpuidLeaf

#endif  // ARCH_CPUID_H_
