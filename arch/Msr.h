// Model-specific registers the driver and the simulated processors use: numbers and named fields.
#ifndef ARCH_MSR_H_
#define ARCH_MSR_H_

#include "arch/Registers.h"

namespace Msr {

// IA32_APIC_BASE.
struct ApicBase {
  static constexpr uint32_t Number = 0x0000001B;
  using Bsp = RegisterBit<8>;
  using X2ApicEnable = RegisterBit<10>;
  using ApicGlobalEnable = RegisterBit<11>;
  using BaseAddress = RegisterField<51, 12>;
};

// Fixed-range MTRR covering 0xA0000-0xBFFFF. Each of its eight bytes types one 16 KB range; bits
// 4 and 3 of a byte route reads and writes of that range to DRAM.
struct MtrrFix16kA0000 {
  static constexpr uint32_t Number = 0x00000259;
  using RdDram = RegisterBit<4>;
  using WrDram = RegisterBit<3>;
  // RdDram and WrDram in every byte.
  static constexpr uint64_t DramRoutingAllRanges = 0x1818181818181818ULL;
};

// SYSCFG: system configuration.
struct SysCfg {
  static constexpr uint32_t Number = 0xC0010010;
  using MtrrFixDramModEn = RegisterBit<19>;
  using VmplEn = RegisterBit<25>;
};

// HWCR: hardware configuration.
struct Hwcr {
  static constexpr uint32_t Number = 0xC0010015;
  // The two bits locking SMM sets when the platform asks for it.
  using SmmLock = RegisterBit<0>;
  using SmmLockHigh = RegisterBit<31>;
};

// TOP_MEM and TOP_MEM2: the tops of DRAM below and above 4 GB.
struct TopMem {
  static constexpr uint32_t Number = 0xC001001A;
};
struct TopMem2 {
  static constexpr uint32_t Number = 0xC001001D;
};

// PCI Express configuration window (MMIO configuration base address).
struct MmioCfgBase {
  static constexpr uint32_t Number = 0xC0010058;
  using Enable = RegisterBit<0>;
  using BusRange = RegisterField<5, 2>;
  using BaseAddress = RegisterField<47, 20>;
  // The control bits below the base address; the base is the register with these cleared.
  using Control = RegisterField<19, 0>;
};

// P-state current limit: PstateMaxVal is the highest P-state number the part defines.
struct PstateCurLim {
  static constexpr uint32_t Number = 0xC0010061;
  using PstateMaxVal = RegisterField<6, 4>;
};

// P-state status and the first P-state definition register.
struct PstateStatus {
  static constexpr uint32_t Number = 0xC0010063;
  using CurPstate = RegisterField<2, 0>;
};
// P-state definition registers: FirstNumber + n defines P-state n. The voltage identifier is
// split: CpuVidLow holds its bits 7:0 and CpuVidHigh its bit 8.
struct PstateDef {
  static constexpr uint32_t FirstNumber = 0xC0010064;
  using CpuFid = RegisterField<7, 0>;
  using CpuDfsId = RegisterField<13, 8>;
  using CpuVidLow = RegisterField<21, 14>;
  using IddValue = RegisterField<29, 22>;
  using IddDiv = RegisterField<31, 30>;
  using CpuVidHigh = RegisterBit<32>;
  using PstateEn = RegisterBit<63>;
};
struct PstateDef0 {
  static constexpr uint32_t Number = PstateDef::FirstNumber;
};
// The P-state definition registers there are: P-states 0 to Count - 1.
constexpr uint32_t PstateDefCount = 8;

// The part's highest core frequency, as a 7-bit count of 50 MHz steps split over two fields:
// StepsHigh holds its upper six bits and StepsLow its lowest bit.
struct FrequencyLimit {
  static constexpr uint32_t Number = 0xC0010292;
  using StepsHigh = RegisterField<20, 15>;
  using StepsLow = RegisterBit<30>;
  static constexpr uint64_t MHzPerStep = 50;
};

// SMM range registers.
struct SmmTsegBase {
  static constexpr uint32_t Number = 0xC0010112;
};
struct SmmTsegMask {
  static constexpr uint32_t Number = 0xC0010113;
  using AValid = RegisterBit<0>;
  using TValid = RegisterBit<1>;
  // Memory types of the ASEG and TSEG ranges.
  using AMemType = RegisterField<10, 8>;
  using TMemType = RegisterField<14, 12>;
  static constexpr uint64_t MemTypeWriteBack = 6;
};

// Secure nested paging: reverse-map table base and end. Bits 13 to 51 hold the address; the
// other bits are kept when the driver writes the bounds.
struct RmpBase {
  static constexpr uint32_t Number = 0xC0010132;
};
struct RmpEnd {
  static constexpr uint32_t Number = 0xC0010133;
};
constexpr uint64_t SnpMsrKeepMask = 0xFFF0000000001FFFULL;

// Protected processor inventory number.
struct PpinCtl {
  static constexpr uint32_t Number = 0xC00102F0;
  using PpinEnable = RegisterBit<1>;
};
struct Ppin {
  static constexpr uint32_t Number = 0xC00102F1;
};

// Extended feature override: the features the processor reports in CPUID 0x80000001. Bit 54
// makes the topology-extension leaves, among them the cache properties leaf, visible.
struct CpuidExtFeatures {
  static constexpr uint32_t Number = 0xC0011005;
  using TopologyExtensions = RegisterBit<54>;
};

// CPPC: capabilities, enable, request and status. The ACPI _CPC template names their fields as
// functional-fixed-hardware registers; the driver itself never accesses them.
struct CppcCapability1 {
  static constexpr uint32_t Number = 0xC00102B0;
  using HighestPerf = RegisterField<31, 24>;
  using NominalPerf = RegisterField<23, 16>;
  using LowestNonlinearPerf = RegisterField<15, 8>;
  using LowestPerf = RegisterField<7, 0>;
};
struct CppcEnable {
  static constexpr uint32_t Number = 0xC00102B1;
  using Enable = RegisterBit<0>;
};
struct CppcCapability2 {
  static constexpr uint32_t Number = 0xC00102B2;
  using GuaranteedPerf = RegisterField<15, 8>;
};
struct CppcRequest {
  static constexpr uint32_t Number = 0xC00102B3;
  using EnergyPerfPreference = RegisterField<31, 24>;
  using DesiredPerf = RegisterField<23, 16>;
  using MinPerf = RegisterField<15, 8>;
  using MaxPerf = RegisterField<7, 0>;
};
struct CppcStatus {
  static constexpr uint32_t Number = 0xC00102B4;
  using PerfLimited = RegisterField<1, 0>;
};
// The reference (maximum frequency) and delivered (actual frequency) performance counters.
struct Mperf {
  static constexpr uint32_t Number = 0x000000E7;
};
struct Aperf {
  static constexpr uint32_t Number = 0x000000E8;
};

// Variable-range MTRRs: pair n is PhysBase at FirstBase + 2n and PhysMask at FirstBase + 2n + 1.
// A pair matches an address when the address AND the mask equals the base AND the mask.
struct MtrrPhysBase {
  static constexpr uint32_t FirstNumber = 0x00000200;
  using Type = RegisterField<7, 0>;
  static constexpr uint64_t TypeUncacheable = 0;
};
struct MtrrPhysMask {
  static constexpr uint32_t FirstNumber = 0x00000201;
  using Valid = RegisterBit<11>;
};
// The variable-range MTRR pairs there are.
constexpr uint32_t VariableMtrrCount = 8;
constexpr uint32_t VariableMtrrBase(uint32_t Pair) { return MtrrPhysBase::FirstNumber + 2 * Pair; }
constexpr uint32_t VariableMtrrMask(uint32_t Pair) { return MtrrPhysMask::FirstNumber + 2 * Pair; }

// The processor's name string, eight ASCII bytes per register, least significant byte first.
struct ProcessorName {
  static constexpr uint32_t FirstNumber = 0xC0010030;
  static constexpr uint32_t Count = 6;
};

}  // namespace Msr

#endif  // ARCH_MSR_H_
