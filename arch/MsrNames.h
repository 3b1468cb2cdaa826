// The names of the MSRs that arch/Msr.h defines, for reports and messages. Every number here is
// taken from its register's definition, so a register is still numbered in one place only.
#ifndef ARCH_MSR_NAMES_H_
#define ARCH_MSR_NAMES_H_

#include "arch/Msr.h"

namespace Msr {

// A register, or a run of registers that share a name (Count of them, Stride apart, the first at
// First): the P-state definitions, the variable-range MTRR bases and masks, the name string.
struct NamedRange {
  const char *Name;
  uint32_t First;
  uint32_t Count;
  uint32_t Stride;
};

inline constexpr NamedRange kNames[] = {
    {"APIC_BASE", ApicBase::Number, 1, 1},
    {"MPERF", Mperf::Number, 1, 1},
    {"APERF", Aperf::Number, 1, 1},
    {"MTRRphysBase", MtrrPhysBase::FirstNumber, VariableMtrrCount, 2},
    {"MTRRphysMask", MtrrPhysMask::FirstNumber, VariableMtrrCount, 2},
    {"MTRRfix16K_A0000", MtrrFix16kA0000::Number, 1, 1},
    {"SYSCFG", SysCfg::Number, 1, 1},
    {"HWCR", Hwcr::Number, 1, 1},
    {"TOP_MEM", TopMem::Number, 1, 1},
    {"TOP_MEM2", TopMem2::Number, 1, 1},
    {"ProcNameString", ProcessorName::FirstNumber, ProcessorName::Count, 1},
    {"MMIO_CFG_BASE", MmioCfgBase::Number, 1, 1},
    {"PStateCurLim", PstateCurLim::Number, 1, 1},
    {"PStateStat", PstateStatus::Number, 1, 1},
    {"PStateDef", PstateDef::FirstNumber, PstateDefCount, 1},
    {"SMM_TSEG_BASE", SmmTsegBase::Number, 1, 1},
    {"SMM_TSEG_MASK", SmmTsegMask::Number, 1, 1},
    {"RMP_BASE", RmpBase::Number, 1, 1},
    {"RMP_END", RmpEnd::Number, 1, 1},
    {"FrequencyLimit", FrequencyLimit::Number, 1, 1},
    {"CPPC_CAP1", CppcCapability1::Number, 1, 1},
    {"CPPC_ENABLE", CppcEnable::Number, 1, 1},
    {"CPPC_CAP2", CppcCapability2::Number, 1, 1},
    {"CPPC_REQ", CppcRequest::Number, 1, 1},
    {"CPPC_STATUS", CppcStatus::Number, 1, 1},
    {"PPIN_CTL", PpinCtl::Number, 1, 1},
    {"PPIN", Ppin::Number, 1, 1},
    {"CPUID_ExtFeatures", CpuidExtFeatures::Number, 1, 1},
};

// Where Number lies among the named registers: its range and its place in the range (0 for a
// single register); Range is null for a number without a name.
struct NameOf {
  const NamedRange *Range = nullptr;
  uint32_t Index = 0;
};

constexpr NameOf FindName(uint32_t Number) {
  for (const NamedRange &Range : kNames) {
    if (Number < Range.First) continue;
    const uint32_t Distance = Number - Range.First;
    if (Distance % Range.Stride == 0 && Distance / Range.Stride < Range.Count) return {&Range, Distance / Range.Stride};
  }
  return {};
}

}  // namespace Msr

#endif  // ARCH_MSR_NAMES_H_
