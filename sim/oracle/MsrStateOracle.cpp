// The MSR values a boot must leave on every processor, and the check of every MSR that changed.
#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <tuple>

#include "arch/Cpuid.h"
#include "arch/MsrNames.h"
#include "interfaces/PlatformConfig.h"
#include "sim/HexText.h"
#include "sim/oracle/AcpiProcessorPstates.h"
#include "sim/oracle/AnswerCheck.h"
#include "sim/oracle/MachineStateOracle.h"
#include "sim/oracle/PcctHestOracle.h"

namespace sim {
namespace {

constexpr uint64_t kTsegWriteBackTypes = 0x6600;
constexpr uint64_t kTsegValidBits = 0x3;
constexpr uint64_t kDramRoutingCleared = 0xE7E7E7E7E7E7E7E7ULL;
constexpr uint64_t kHwcrLockBits = 0x80000001;
constexpr uint64_t kSysCfgVmpl = 1ULL << 25;
// Open and close set it to change the routing of 0xA0000, then clear it, whatever it held before.
constexpr uint64_t kSysCfgRoutingChanges = 1ULL << 19;

// Expected final values by MSR, for one processor.
using ExpectedMsrValues = std::map<uint32_t, uint64_t>;

std::string MsrText(uint32_t Number) {
  const Msr::NameOf Name = Msr::FindName(Number);
  std::string Text = "MSR " + Hex(Number, 8);
  if (Name.Range == nullptr) return Text;
  Text += std::string(" ") + Name.Range->Name;
  if (Name.Range->Count > 1) Text += std::to_string(Name.Index);
  return Text;
}

// The SMM range registers after the installer and every SMRAM call the SMM core made that
// succeeded: open and close clear the valid bits, route 0xA0000 to DRAM or away from it and leave
// SYSCFG's routing-change bit clear, the first lock sets the valid bits and, when the item asks,
// locks HWCR. Values holds what the processor's other expectations (SNP) already give SYSCFG.
void ExpectSmmRange(Platform &Machine, const BootRecord &Boot, const Processor &Each, ExpectedMsrValues &Values) {
  const sim::Machine &Description = Machine.Description();
  if (!InitializationRuns(Description) || Description.Smram.empty() || !Description.SiblingExists("mp_services")) {
    return;
  }
  uint64_t Total = 0;
  for (const SmramRegion &Region : Description.Smram) Total += Region.Size;
  uint64_t Mask = ~(Total - 1) | kTsegWriteBackTypes;
  uint64_t Routing = ResetValue(Each, Msr::MtrrFix16kA0000::Number);
  uint64_t Hwcr = ResetValue(Each, Msr::Hwcr::Number);
  // The installer reads the item once, when the per-core work runs.
  const bool LockHwcr =
      PcdItem(ItemsAtStep(Description, Boot, PerCoreWorkStep(Description, Boot)), PcdCcxSmmLockHwcr, 1) != 0;
  bool Locked = false;
  for (const SmmCoreCall &Call : Boot.SmmCore.Calls) {
    if (EFI_ERROR(Call.Status) || Locked) continue;
    if (Call.Operation == "Open" || Call.Operation == "Close") {
      const auto SysCfg = Values.find(Msr::SysCfg::Number);
      Values[Msr::SysCfg::Number] =
          (SysCfg != Values.end() ? SysCfg->second : ResetValue(Each, Msr::SysCfg::Number)) & ~kSysCfgRoutingChanges;
      Mask &= ~kTsegValidBits;
      Routing = Call.Operation == "Open" ? Routing | Msr::MtrrFix16kA0000::DramRoutingAllRanges
                                         : Routing & kDramRoutingCleared;
    } else if (Call.Operation == "Lock") {
      Locked = true;
      Mask |= kTsegValidBits;
      if (LockHwcr) Hwcr |= kHwcrLockBits;
    }
  }
  Values[Msr::SmmTsegBase::Number] = Description.Smram.front().Base;
  Values[Msr::SmmTsegMask::Number] = Mask;
  Values[Msr::MtrrFix16kA0000::Number] = Routing;
  Values[Msr::Hwcr::Number] = Hwcr;
}

// The BSP's SNP registers: the table's bounds merged into RMP base and end, SYSCFG with VMPL on.
// The bounds are those the table check holds to the machine's own sizes; a reservation that
// failed (its fatal stop) leaves the end bound 0, a failed probe both.
ExpectedMsrValues ExpectedBspSnp(Platform &Machine, const BootRecord &Boot) {
  ExpectedMsrValues Values;
  const Processor &Bsp = Machine.Processors().Bsp();
  const std::optional<ExpectedRmp> Table = ExpectedReverseMapTable(Machine, Boot);
  if (!Table || !InitializationRuns(Machine.Description())) return Values;
  if (Table->Vmpl) Values[Msr::SysCfg::Number] = ResetValue(Bsp, Msr::SysCfg::Number) | kSysCfgVmpl;
  constexpr uint64_t kBound = ~Msr::SnpMsrKeepMask;
  uint64_t Base = Boot.Snp.RmpBaseMsr & kBound;
  uint64_t End = Base + Table->Size - 1;
  if (ShowedFatalStop(Boot, kFatalRmpProbe)) Base = End = 0;
  if (ShowedFatalStop(Boot, kFatalRmpReserve)) End = 0;
  // The whole bound is ORed in: the end's low bits (a page's last bytes) land among the kept ones.
  Values[Msr::RmpBase::Number] = (ResetValue(Bsp, Msr::RmpBase::Number) & Msr::SnpMsrKeepMask) | Base;
  Values[Msr::RmpEnd::Number] = (ResetValue(Bsp, Msr::RmpEnd::Number) & Msr::SnpMsrKeepMask) | End;
  return Values;
}

// The variable MTRR pair over the PCC region the subspace service registered: the first pair
// free at reset, uncacheable, 64 KiB, on every processor.
void ExpectPccMtrr(Platform &Machine, ExpectedMsrValues &Values) {
  const std::vector<uint64_t> Regions = RegisteredPccRegions(Machine);
  if (Regions.empty()) return;
  const Processor &Bsp = Machine.Processors().Bsp();
  for (uint32_t Pair = 0; Pair < Msr::VariableMtrrCount; Pair++) {
    if (Msr::MtrrPhysMask::Valid::IsSet(ResetValue(Bsp, Msr::VariableMtrrMask(Pair)))) continue;
    const PccMtrrPair Expected = ExpectedPccMtrrPair(Machine, Regions.back());
    Values[Msr::VariableMtrrBase(Pair)] = Expected.Base;
    Values[Msr::VariableMtrrMask(Pair)] = Expected.Mask;
    return;
  }
}

}  // namespace

void CheckMsrState(Platform &Machine, const BootRecord &Boot, std::vector<std::string> &Errors) {
  ProcessorSet &Processors = Machine.Processors();
  const bool Initialized = InitializationRuns(Machine.Description());
  const bool ApsReached = Initialized && Machine.Description().SiblingExists("mp_services");
  const ExpectedMsrValues BspSnp = ExpectedBspSnp(Machine, Boot);
  const PstateRegisters Pstates = ExpectedPstateRegisters(Machine);
  const uint64_t Pstate0 = Pstates.Definitions[0];
  const bool Pstate0Changed = Initialized && Pstate0 != ResetValue(Processors.Bsp(), Msr::PstateDef0::Number);
  ExpectedMsrValues Shared;
  ExpectPccMtrr(Machine, Shared);

  // (MSR, expected or nothing, received) → processors, so that one sentence covers them all.
  std::map<std::tuple<uint32_t, std::optional<uint64_t>, uint64_t>, std::vector<size_t>> Differences;
  for (size_t Index = 0; Index < Processors.Count(); Index++) {
    const Processor &Each = Processors.At(Index);
    const bool IsBsp = &Each == &Processors.Bsp();
    ExpectedMsrValues Expected = Shared;
    if (IsBsp || ApsReached) {
      for (const auto &[Msr, Value] : BspSnp) Expected[Msr] = Value;
    }
    // The per-core work copies the BSP's three SNP registers to every AP of an SNP part, also
    // when no table was set up; what the BSP held then is its reset value where SNP left it so.
    if (!IsBsp && ApsReached &&
        CpuidLeaf::EncryptedMemory::EaxSnp::IsSet(Processors.Bsp().Cpuid(CpuidLeaf::EncryptedMemory::Leaf, 0).Eax)) {
      for (uint32_t Msr : {Msr::RmpBase::Number, Msr::RmpEnd::Number, Msr::SysCfg::Number}) {
        if (Expected.count(Msr) == 0) Expected[Msr] = ResetValue(Processors.Bsp(), Msr);
      }
    }
    ExpectSmmRange(Machine, Boot, Each, Expected);
    if (Pstate0Changed) Expected[Msr::PstateDef0::Number] = Pstate0;

    ExpectedMsrValues Now;
    ExpectedMsrValues Reset;
    for (const MsrWrite &Write : Each.MsrWrites()) {
      Reset.try_emplace(Write.Msr, Write.Old);
      Now[Write.Msr] = Write.New;
    }
    for (const auto &[Msr, Value] : Expected) {
      const uint64_t Received = Each.PeekMsr(Msr).value_or(0);
      if (Received != Value) Differences[{Msr, Value, Received}].push_back(Index);
    }
    for (const auto &[Msr, Value] : Now) {
      if (Expected.count(Msr) == 0 && Value != Reset.at(Msr)) {
        Differences[{Msr, std::nullopt, Value}].push_back(Index);
      }
    }
  }
  AnswerCheck Check("machine state", Errors);
  for (const auto &[Key, Where] : Differences) {
    const auto &[Msr, Expected, Received] = Key;
    const std::string Record = MsrText(Msr) + " on " + ProcessorListText(Where);
    if (Expected) {
      Check.Field(Record, "value", *Expected, Received);
    } else {
      Check.Problem(Record, "changed to " + Hex(Received, 16) + " with no change expected");
    }
  }
}

}  // namespace sim
