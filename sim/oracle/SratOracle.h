// What AddProcessorAffinityEntries of QORVEX_CCX_SRAT_SERVICES_PROTOCOL must write on a simulated
// machine: one structure per thread in walk order, x2APIC structures when the platform runs in
// x2APIC mode and local APIC structures for the threads whose APIC ID fits otherwise, each with
// its complex's proximity domain. The domains follow the machine's NUMA settings and the faults it
// injects into the NUMA service: a complex whose query fails keeps the domain held before it. A
// fabric topology count query the machine makes fail ends the walk there: the service answers
// EFI_DEVICE_ERROR, with the entries of the threads it met before.
#ifndef SIM_ORACLE_SRAT_ORACLE_H_
#define SIM_ORACLE_SRAT_ORACLE_H_

#include <cstdint>
#include <vector>

#include "sim/platform/Platform.h"

namespace sim {

// One processor affinity structure as the service writes it; the fields not written stay zero.
struct ExpectedSratEntry {
  uint8_t Type = 0;
  uint8_t Length = 0;
  uint32_t ApicId = 0;
  uint32_t Domain = 0;
  uint32_t Flags = 0;
  // Which thread it describes, for the sentences.
  size_t Processor = 0;
};

struct ExpectedSrat {
  uint64_t Status = 0;
  std::vector<ExpectedSratEntry> Entries;
};

// Call just before the service: the sibling services' faults are counted from the calls made so far.
ExpectedSrat ExpectedSratProcessorEntries(Platform &Machine);

}  // namespace sim

#endif  // SIM_ORACLE_SRAT_ORACLE_H_
