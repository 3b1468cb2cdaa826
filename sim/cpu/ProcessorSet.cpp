#include "sim/cpu/ProcessorSet.h"
#include "sim/HexText.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace sim {
namespace {

template <typename Overrides>
void RequireKnownProcessors(const Overrides &ByProcessor, size_t Count, const char *What) {
  for (const auto &Entry : ByProcessor) {
    if (Entry.first >= Count) {
      throw TopologyError(std::string(What) + " are given for processor " + std::to_string(Entry.first) +
                          ", but the machine has " + std::to_string(Count) + " processors");
    }
  }
}

}  // namespace

std::vector<ProcessorIdentity> NumberProcessors(const Topology &Machine, const ProcessorConfig &Config) {
  const ApicIdMaxima Maxima = MaximaOf(Machine, Config.CoreFieldPadding, Config.FoldedComplexes);
  const std::vector<TopologyPosition> Positions = Machine.Walk();
  const ApicIdLayout Layout = LayoutOf(Maxima);
  const uint32_t ComplexDies = Machine.MaxCount(TopologyLevel::ComplexDie);
  std::map<uint32_t, size_t> Numbered;
  std::vector<ProcessorIdentity> Identities;
  Identities.reserve(Positions.size());
  for (size_t Index = 0; Index < Positions.size(); ++Index) {
    ProcessorIdentity &Identity = Identities.emplace_back();
    Identity.Index = Index;
    Identity.Position = Positions[Index];
    Identity.ApicId =
        ApicIdOf(Maxima, Config.FoldedComplexes ? FoldedPosition(Positions[Index], ComplexDies) : Positions[Index]);
    Identity.CoreId = Identity.ApicId >> Layout.CoreShift;
    Identity.ThreadsPerCore = Maxima.ThreadsPerCore;

    // The APIC ID has no die field, so threads that differ only in their die would be numbered
    // alike; a machine like that cannot be told apart by the driver or the operating system.
    auto [Earlier, Fresh] = Numbered.emplace(Identity.ApicId, Index);
    if (!Fresh) {
      throw TopologyError("APIC ID " + Hex(Identity.ApicId) + " would be given to both " +
                          Positions[Earlier->second].Describe() + " and " + Positions[Index].Describe() +
                          "; the APIC ID has no die field, so a socket can have only one die");
    }
  }
  return Identities;
}

std::optional<uint64_t> ProcessorConfig::ResetMsr(size_t Index, uint32_t Number) const {
  if (auto Own = MsrResetOverrides.find(Index); Own != MsrResetOverrides.end()) {
    if (auto Value = Own->second.find(Number); Value != Own->second.end()) return Value->second;
  }
  if (auto Value = MsrResetValues.find(Number); Value != MsrResetValues.end()) return Value->second;
  return std::nullopt;
}

std::optional<CpuidValue> ProcessorConfig::CpuidAnswer(size_t Index, uint32_t Leaf, uint32_t SubLeaf) const {
  if (auto Own = CpuidOverrides.find(Index); Own != CpuidOverrides.end()) {
    if (std::optional<CpuidValue> Answer = Own->second.Find(Leaf, SubLeaf)) return Answer;
  }
  return Cpuid.Find(Leaf, SubLeaf);
}

ProcessorSet::ProcessorSet(const Topology &Machine, const ProcessorConfig &Config)
    : Machine_(Machine), Maxima_(MaximaOf(Machine, Config.CoreFieldPadding, Config.FoldedComplexes)) {
  const std::vector<ProcessorIdentity> Identities = NumberProcessors(Machine_, Config);
  RequireKnownProcessors(Config.MsrResetOverrides, Identities.size(), "MSR reset values");
  RequireKnownProcessors(Config.CpuidOverrides, Identities.size(), "CPUID answers");

  auto SharedCpuid = std::make_shared<const CpuidTable>(Config.Cpuid);
  Processors_.reserve(Identities.size());
  for (const ProcessorIdentity &Identity : Identities) {
    const size_t Index = Identity.Index;
    MsrValues ResetMsrs(MsrValues::Entries(Config.MsrResetValues.begin(), Config.MsrResetValues.end()));
    if (auto Own = Config.MsrResetOverrides.find(Index); Own != Config.MsrResetOverrides.end()) {
      for (const auto &[Msr, Value] : Own->second) ResetMsrs.Put(Msr, Value);
    }
    CpuidTable OwnCpuid;
    if (auto Own = Config.CpuidOverrides.find(Index); Own != Config.CpuidOverrides.end()) {
      OwnCpuid = Own->second;
    }
    Processors_.push_back(
        std::make_unique<Processor>(Identity, std::move(ResetMsrs), SharedCpuid, std::move(OwnCpuid)));
  }
}

Processor &ProcessorSet::At(size_t Index) {
  return const_cast<Processor &>(static_cast<const ProcessorSet &>(*this).At(Index));
}

const Processor &ProcessorSet::At(size_t Index) const {
  if (Index >= Processors_.size()) {
    throw std::out_of_range("no processor " + std::to_string(Index) + " on a machine of " +
                            std::to_string(Processors_.size()));
  }
  return *Processors_[Index];
}

bool ProcessorSet::Contains(const Processor *Candidate) const {
  return Candidate != nullptr && Candidate->Index() < Processors_.size() &&
         Processors_[Candidate->Index()].get() == Candidate;
}

std::optional<size_t> ProcessorSet::FindApicId(uint32_t ApicId) const {
  auto Found = std::find_if(Processors_.begin(), Processors_.end(),
                            [&](const auto &Candidate) { return Candidate->ApicId() == ApicId; });
  if (Found == Processors_.end()) {
    return std::nullopt;
  }
  return static_cast<size_t>(Found - Processors_.begin());
}

uint32_t ProcessorSet::CoreTopologyRegister() const { return CoreTopologyRegisterValue(Maxima_); }

std::vector<UnimplementedMsrRead> ProcessorSet::UnimplementedMsrReads() const {
  std::vector<UnimplementedMsrRead> Reads;
  for (const auto &Each : Processors_) {
    for (uint32_t Msr : Each->UnimplementedMsrReads()) {
      Reads.push_back(UnimplementedMsrRead{.Processor = Each->Index(), .Msr = Msr});
    }
  }
  return Reads;
}

}  // namespace sim
