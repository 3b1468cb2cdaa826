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
// Fields of the ExtendedSignature leaf.
struct ExtendedSignatureFields {
  // Extended family, extended model and base family: what tells one part generation from another.
  static constexpr uint32_t EaxFamilyModelMask = 0x0FFF0F00;
  // The package the part is built into.
  using EbxPkgType = RegisterField<31, 28>;
  // The family is the base family plus the extended family.
  using EaxBaseFamily = RegisterField<11, 8>;
  using EaxExtendedModel = RegisterField<19, 16>;
  using EaxExtendedFamily = RegisterField<27, 20>;
};
// Fields of the AddressSizes leaf.
struct AddressSizeFields {
  using EaxPhysicalAddressBits = RegisterField<7, 0>;
  using EcxApicIdSize = RegisterField<15, 12>;
  // The logical processors of the package, less one.
  using EcxNumberOfThreadsMinusOne = RegisterField<7, 0>;
};

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

// Level-1 TLBs: EAX for 2 MB pages, EBX for 4 KB pages; associativity stored as it stands.
struct L1Tlb {
  static constexpr uint32_t Leaf = 0x80000005;
  using DataAssociativity = RegisterField<31, 24>;
  using DataEntries = RegisterField<23, 16>;
  using InstructionAssociativity = RegisterField<15, 8>;
  using InstructionEntries = RegisterField<7, 0>;
};

// Level-2 TLBs: EAX for 2 MB pages, EBX for 4 KB pages; associativity as a 4-bit code.
struct L2Tlb {
  static constexpr uint32_t Leaf = 0x80000006;
  using DataAssociativity = RegisterField<31, 28>;
  using DataEntries = RegisterField<27, 16>;
  using InstructionAssociativity = RegisterField<15, 12>;
  using InstructionEntries = RegisterField<11, 0>;
};

// 1 GB page TLBs: EAX for level 1, EBX for level 2, both laid out as the level-2 leaf.
struct GigabyteTlb {
  static constexpr uint32_t Leaf = 0x80000019;
  using DataAssociativity = RegisterField<31, 28>;
  using DataEntries = RegisterField<27, 16>;
  using InstructionAssociativity = RegisterField<15, 12>;
  using InstructionEntries = RegisterField<11, 0>;
};

// The simulation back-door: a processor that answers it leaves a non-zero value in SI.
constexpr uint32_t BackdoorLeaf = 0xBACCD00B;
constexpr uint32_t BackdoorEbx = 2;

// Level-1 caches: the data cache's size in ECX and the instruction cache's in EDX, in KiB.
struct L1CacheIdentifiers {
  static constexpr uint32_t Leaf = 0x80000005;
  using EcxL1DcSizeKiB = RegisterField<31, 24>;
  using EdxL1IcSizeKiB = RegisterField<31, 24>;
};

// Level-2 and level-3 caches: the level-2 size in KiB, the level-3 associativity code and its size
// in 512 KiB units.
struct L2L3CacheIdentifiers {
  static constexpr uint32_t Leaf = 0x80000006;
  using EcxL2SizeKiB = RegisterField<31, 16>;
  using EdxL3Assoc = RegisterField<15, 12>;
  using EdxL3Size512KiB = RegisterField<31, 18>;
  // The associativity code that sends software to the cache-properties leaf for the real figures.
  static constexpr uint64_t L3AssocSeeCacheProperties = 9;
  static constexpr uint64_t L3SizeUnitKiB = 512;
};

// Cache properties, one sub-leaf per cache: 0 level-1 data, 1 level-1 instruction, 2 level 2, 3 level 3.
struct CacheProperties {
  static constexpr uint32_t Leaf = 0x8000001D;
  static constexpr uint32_t SubLeafL1Data = 0;
  static constexpr uint32_t SubLeafL1Instruction = 1;
  static constexpr uint32_t SubLeafL2 = 2;
  static constexpr uint32_t SubLeafL3 = 3;
  // The logical processors sharing the cache, less one.
  using EaxNumSharingCacheMinusOne = RegisterField<25, 14>;
  // Line size, partitions and ways, each less one; ECX holds the number of sets less one.
  using EbxLineSizeMinusOne = RegisterField<11, 0>;
  using EbxPartitionsMinusOne = RegisterField<21, 12>;
  using EbxWaysMinusOne = RegisterField<31, 22>;
  // A cache type of 0 ends the list of sub-leaves.
  using EaxCacheType = RegisterField<4, 0>;
  using EaxCacheLevel = RegisterField<7, 5>;
  using EaxFullyAssociative = RegisterBit<9>;
  using EcxSetsMinusOne = RegisterField<31, 0>;
  // The cache's inclusive bit, kept in place.
  static constexpr uint32_t EdxInclusiveMask = 1U << 1;
  static constexpr uint32_t TypeNone = 0;
  static constexpr uint32_t TypeData = 1;
  static constexpr uint32_t TypeInstruction = 2;
};

}  // namespace CpuidLeaf

#endif  // ARCH_CPUID_H_
