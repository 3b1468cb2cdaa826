#include "sim/oracle/SratOracle.h"

#include <map>
#include <string>

#include "interfaces/CcxSratServices.h"
#include "interfaces/PlatformConfig.h"
#include "sim/oracle/AcpiProcessorPstates.h"

namespace sim {
namespace {

constexpr uint64_t kX2ApicMode = 2;
// In local APIC mode a thread needs an APIC ID below 255 to be described.
constexpr uint32_t kFirstUndescribedApicId = 255;
constexpr uint8_t kLocalApicLength = sizeof(EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY);
constexpr uint8_t kX2ApicLength = sizeof(EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY);
const char *const kNumaService = "fabric_numa";
const char *const kAnyComplexQuery = "GetProximityDomain";

// The NUMA service fails a query when a fault names the next call of the general query, or (when
// that passes) the next call of the query for this complex; each query counts its own calls.
class NumaFaults {
 public:
  explicit NumaFaults(Platform &Machine) : Machine_(Machine) {}

  bool NextCallFails(const TopologyPosition &Complex) {
    if (Fires(kAnyComplexQuery)) return true;
    return Fires("GetProximityDomain(" + std::to_string(Complex.Socket) + "," + std::to_string(Complex.Die) + "," +
                 std::to_string(Complex.ComplexDie) + "," + std::to_string(Complex.Complex) + ")");
  }

 private:
  bool Fires(const std::string &Query) {
    auto [It, New] = Calls_.try_emplace(Query, 0);
    if (New) It->second = Machine_.Faults().Calls(kNumaService, Query);
    const uint64_t Call = ++It->second;
    for (const InjectedFault &Fault : Machine_.Description().Faults) {
      if (Fault.Service == kNumaService && Fault.Query == Query && Fault.Call == Call) return true;
    }
    return false;
  }

  Platform &Machine_;
  std::map<std::string, uint64_t> Calls_;
};

uint32_t ConfiguredDomain(const Machine &Description, const TopologyPosition &Complex) {
  uint32_t Domain = Complex.Socket;
  for (const ComplexDomain &Named : Description.NumaDomains) {
    if (Named.Socket == Complex.Socket && Named.Die == Complex.Die && Named.ComplexDie == Complex.ComplexDie &&
        Named.Complex == Complex.Complex) {
      Domain = Named.Domain;
    }
  }
  return Domain;
}

}  // namespace

std::vector<ExpectedSratEntry> ExpectedSratProcessorEntries(Platform &Machine) {
  const sim::Machine &Description = Machine.Description();
  const bool X2Apic = PcdItem(ReadableItems(Machine), PcdCcxApicMode, 1) == kX2ApicMode;
  std::vector<ExpectedSratEntry> Entries;
  NumaFaults Faults(Machine);
  uint32_t Domain = 0;
  TopologyPosition Complex;
  for (size_t Index = 0; Index < Machine.Processors().Count(); Index++) {
    const Processor &Thread = Machine.Processors().At(Index);
    const TopologyPosition Holder = Thread.Position().ParentOf(TopologyLevel::Core);
    if (Index == 0 || Holder != Complex) {
      Complex = Holder;
      if (!Faults.NextCallFails(Complex)) Domain = ConfiguredDomain(Description, Complex);
    }
    if (!X2Apic && Thread.ApicId() >= kFirstUndescribedApicId) continue;
    ExpectedSratEntry Entry;
    Entry.Type = X2Apic ? EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY_TYPE : EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY_TYPE;
    Entry.Length = X2Apic ? kX2ApicLength : kLocalApicLength;
    Entry.ApicId = Thread.ApicId();
    Entry.Domain = Domain;
    Entry.Flags = EFI_ACPI_SRAT_AFFINITY_ENABLED;
    Entry.Processor = Index;
    Entries.push_back(Entry);
  }
  return Entries;
}

}  // namespace sim
