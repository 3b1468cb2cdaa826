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

// Fixed-range MTRR covering 0xA0000-0xBFFFF.
struct MtrrFix16kA0000 {
  static constexpr uint32_t Number = 0x00000259;
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

// SMM range registers.
struct SmmTsegBase {
  static constexpr uint32_t Number = 0xC0010112;
};
struct SmmTsegMask {
  static constexpr uint32_t Number = 0xC0010113;
  using AValid = RegisterBit<0>;
  using TValid = RegisterBit<1>;
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

}  // namespace Msr

#endif  // ARCH_MSR_H_
