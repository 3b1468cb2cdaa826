// One simulated logical processor: where it sits in the machine, its APIC ID, its own MSR file
// and its CPUID answers. Only the host thread running as this processor and the controller
// (while no procedure runs) touch it; the MSR file is locked all the same, so that a report taken
// at any moment reads a consistent file.
#ifndef SIM_CPU_PROCESSOR_H_
#define SIM_CPU_PROCESSOR_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "sim/cpu/CpuidTable.h"
#include "sim/cpu/SortedTable.h"
#include "sim/cpu/Topology.h"

namespace sim {

// What the machine fixes for a processor when it is built.
struct ProcessorIdentity {
  // Place in the topology walk; processor 0 is the BSP.
  size_t Index = 0;
  TopologyPosition Position;
  uint32_t ApicId = 0;
  // The core number and thread count that CPUID leaf 0x8000001E reports.
  uint32_t CoreId = 0;
  uint32_t ThreadsPerCore = 1;
};

// One change of an MSR, in the order the processor saw them.
struct MsrWrite {
  uint32_t Msr = 0;
  uint64_t Old = 0;
  uint64_t New = 0;
  // The MSR had no reset value and no earlier write: this write brought it into the file.
  bool Created = false;

  bool operator==(const MsrWrite &) const = default;
};

// A processor's MSRs and their values, by MSR number.
using MsrValues = SortedTable<uint32_t, uint64_t>;

class Processor {
 public:
  // ResetMsrs are the values the processor comes out of reset with; IA32_APIC_BASE is completed
  // from the identity. MachineCpuid is shared by every processor of the machine; OwnCpuid holds
  // this processor's answers that differ from it.
  Processor(const ProcessorIdentity &Identity, MsrValues ResetMsrs,
            std::shared_ptr<const CpuidTable> MachineCpuid, CpuidTable OwnCpuid);
  Processor(const Processor &) = delete;
  Processor &operator=(const Processor &) = delete;

  size_t Index() const { return Identity_.Index; }
  const TopologyPosition &Position() const { return Identity_.Position; }
  uint32_t ApicId() const { return Identity_.ApicId; }
  bool IsBsp() const { return Identity_.Index == 0; }

  // An MSR that the file does not hold reads as 0, and the read is remembered as a read of an
  // unimplemented MSR. A write to such an MSR brings it into the file.
  uint64_t ReadMsr(uint32_t Msr);
  void WriteMsr(uint32_t Msr, uint64_t Value);

  // For reports and checks: the MSR's value without counting as a read.
  std::optional<uint64_t> PeekMsr(uint32_t Msr) const;
  std::map<uint32_t, uint64_t> MsrFile() const;
  std::vector<MsrWrite> MsrWrites() const;
  // Every read of an MSR the file did not hold, in order, repeats included.
  std::vector<uint32_t> UnimplementedMsrReads() const;

  // The processor's answer: its own table, then the machine's, then zeros; the fields that
  // identify this processor always come from its identity.
  CpuidValue Cpuid(uint32_t Leaf, uint32_t SubLeaf) const;

  // How many MP services procedures have run on this processor.
  uint64_t ProceduresRun() const;
  void CountProcedureRun();

 private:
  const ProcessorIdentity Identity_;
  const std::shared_ptr<const CpuidTable> MachineCpuid_;
  const CpuidTable OwnCpuid_;

  mutable std::mutex Lock_;
  MsrValues Msrs_;
  std::vector<MsrWrite> Writes_;
  std::vector<uint32_t> UnimplementedReads_;
  uint64_t ProceduresRun_ = 0;
};

}  // namespace sim

#endif  // SIM_CPU_PROCESSOR_H_
