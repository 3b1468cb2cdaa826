// Every logical processor of a simulated machine, built from its topology and its reset state and
// numbered in topology-walk order, so that processor 0 (the BSP) is at (0,0,0,0,0,0).
#ifndef SIM_CPU_PROCESSOR_SET_H_
#define SIM_CPU_PROCESSOR_SET_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "sim/cpu/ApicId.h"
#include "sim/cpu/CpuidTable.h"
#include "sim/cpu/Processor.h"
#include "sim/cpu/Topology.h"

namespace sim {

// The reset state of the processors: values for every processor and, by processor number, the
// values in which single processors differ.
struct ProcessorConfig {
  bool CoreFieldPadding = false;
  // The processors present the second complex of every complex die folded (see FoldedPosition).
  bool FoldedComplexes = false;
  std::map<uint32_t, uint64_t> MsrResetValues;
  std::map<size_t, std::map<uint32_t, uint64_t>> MsrResetOverrides;
  CpuidTable Cpuid;
  std::map<size_t, CpuidTable> CpuidOverrides;

  // What processor Index (in walk order) holds in MSR Number at reset: its own value, else the
  // one every processor has, else nothing.
  std::optional<uint64_t> ResetMsr(size_t Index, uint32_t Number) const;
  // What processor Index answers for Leaf and SubLeaf: its own answer, else the shared one.
  std::optional<CpuidValue> CpuidAnswer(size_t Index, uint32_t Leaf, uint32_t SubLeaf) const;
};

struct UnimplementedMsrRead {
  size_t Processor = 0;
  uint32_t Msr = 0;

  bool operator==(const UnimplementedMsrRead &) const = default;
};

// Every processor's identity in walk order (its position, APIC ID and core number), numbered
// exactly as a ProcessorSet of the same machine numbers its processors. Throws TopologyError for an
// impossible topology and for one in which two threads would get the same APIC ID.
std::vector<ProcessorIdentity> NumberProcessors(const Topology &Machine, const ProcessorConfig &Config);

class ProcessorSet {
 public:
  // Throws TopologyError for an impossible topology, for one in which two threads would get the
  // same APIC ID, and for overrides that name a processor the machine does not have.
  explicit ProcessorSet(const Topology &Machine, const ProcessorConfig &Config = {});
  ProcessorSet(const ProcessorSet &) = delete;
  ProcessorSet &operator=(const ProcessorSet &) = delete;

  size_t Count() const { return Processors_.size(); }
  // Throws std::out_of_range for a number at or above Count().
  Processor &At(size_t Index);
  const Processor &At(size_t Index) const;
  Processor &Bsp() { return At(0); }
  // Whether Candidate is one of this machine's processors (a host thread may be bound to a
  // processor of another machine).
  bool Contains(const Processor *Candidate) const;
  std::optional<size_t> FindApicId(uint32_t ApicId) const;

  const Topology &Machine() const { return Machine_; }
  const ApicIdMaxima &Maxima() const { return Maxima_; }
  // The value every copy of the core topology register holds on this machine.
  uint32_t CoreTopologyRegister() const;

  // Every read of an unimplemented MSR, processor by processor.
  std::vector<UnimplementedMsrRead> UnimplementedMsrReads() const;

 private:
  Topology Machine_;
  ApicIdMaxima Maxima_;
  std::vector<std::unique_ptr<Processor>> Processors_;
};

}  // namespace sim

#endif  // SIM_CPU_PROCESSOR_SET_H_
