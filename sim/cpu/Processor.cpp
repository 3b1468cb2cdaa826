#include "sim/cpu/Processor.h"

#include <utility>

#include "arch/Cpuid.h"
#include "arch/Msr.h"

namespace sim {
namespace {

// The architectural reset base of the local APIC, used when the machine gives no reset value.
constexpr uint64_t kDefaultApicBase = 0xFEE00000;

}  // namespace

Processor::Processor(const ProcessorIdentity &Identity, MsrValues ResetMsrs,
                     std::shared_ptr<const CpuidTable> MachineCpuid, CpuidTable OwnCpuid)
    : Identity_(Identity),
      MachineCpuid_(std::move(MachineCpuid)),
      OwnCpuid_(std::move(OwnCpuid)),
      Msrs_(std::move(ResetMsrs)) {
  // Every processor comes out of reset with its local APIC enabled, and only the BSP carries the
  // BSP flag; the driver tells the two apart by that flag alone.
  using ApicBase = Msr::ApicBase;
  uint64_t &Base = *Msrs_.Emplace(ApicBase::Number, kDefaultApicBase).first;
  Base = ApicBase::Bsp::Set(Base, IsBsp() ? 1 : 0);
  Base = ApicBase::ApicGlobalEnable::Set(Base, 1);
}

uint64_t Processor::ReadMsr(uint32_t Msr) {
  std::lock_guard Guard(Lock_);
  const uint64_t *Found = Msrs_.Find(Msr);
  if (Found == nullptr) {
    UnimplementedReads_.push_back(Msr);
    return 0;
  }
  return *Found;
}

void Processor::WriteMsr(uint32_t Msr, uint64_t Value) {
  std::lock_guard Guard(Lock_);
  auto [Held, Created] = Msrs_.Emplace(Msr, 0);
  Writes_.push_back(MsrWrite{.Msr = Msr, .Old = *Held, .New = Value, .Created = Created});
  *Held = Value;
}

std::optional<uint64_t> Processor::PeekMsr(uint32_t Msr) const {
  std::lock_guard Guard(Lock_);
  const uint64_t *Found = Msrs_.Find(Msr);
  if (Found == nullptr) {
    return std::nullopt;
  }
  return *Found;
}

std::map<uint32_t, uint64_t> Processor::MsrFile() const {
  std::lock_guard Guard(Lock_);
  return {Msrs_.begin(), Msrs_.end()};
}

std::vector<MsrWrite> Processor::MsrWrites() const {
  std::lock_guard Guard(Lock_);
  return Writes_;
}

std::vector<uint32_t> Processor::UnimplementedMsrReads() const {
  std::lock_guard Guard(Lock_);
  return UnimplementedReads_;
}

CpuidValue Processor::Cpuid(uint32_t Leaf, uint32_t SubLeaf) const {
  std::optional<CpuidValue> Answer = OwnCpuid_.Find(Leaf, SubLeaf);
  if (!Answer && MachineCpuid_ != nullptr) {
    Answer = MachineCpuid_->Find(Leaf, SubLeaf);
  }
  CpuidValue Value = Answer.value_or(CpuidValue{});

  // These fields name the processor that executes the instruction, so no table can answer them.
  if (Leaf == CpuidLeaf::Features::Leaf) {
    Value.Ebx = static_cast<uint32_t>(CpuidLeaf::Features::EbxInitialApicId::Set(Value.Ebx, Identity_.ApicId));
  } else if (Leaf == CpuidLeaf::ProcessorTopology::Leaf) {
    using TopologyLeaf = CpuidLeaf::ProcessorTopology;
    Value.Eax = static_cast<uint32_t>(TopologyLeaf::EaxExtendedApicId::Set(Value.Eax, Identity_.ApicId));
    uint64_t Ebx = TopologyLeaf::EbxCoreId::Set(Value.Ebx, Identity_.CoreId);
    Ebx = TopologyLeaf::EbxThreadsPerCoreMinusOne::Set(Ebx, Identity_.ThreadsPerCore - 1);
    Value.Ebx = static_cast<uint32_t>(Ebx);
  }
  return Value;
}

uint64_t Processor::ProceduresRun() const {
  std::lock_guard Guard(Lock_);
  return ProceduresRun_;
}

void Processor::CountProcedureRun() {
  std::lock_guard Guard(Lock_);
  ++ProceduresRun_;
}

}  // namespace sim
