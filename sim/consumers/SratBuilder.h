// The SRAT builder, as the platform's outside driver: a revision-3 System Resource Affinity Table
// with the driver's processor affinity entries and one memory affinity entry per DRAM range of
// the machine. The processor entries are read back and compared field by field with the ones the
// machine calls for (sim/oracle/SratOracle.h): one per thread the APIC mode can describe, in walk
// order, with its APIC ID, its complex's domain and the enabled flag.
#ifndef SIM_CONSUMERS_SRAT_BUILDER_H_
#define SIM_CONSUMERS_SRAT_BUILDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/platform/Platform.h"

namespace sim {

// One processor affinity structure as the service wrote it. Reserved gathers the bytes the
// service leaves zero: the local SAPIC EID of the local APIC form, the reserved bytes of the other.
struct SratProcessorEntry {
  uint8_t Type = 0;
  uint8_t Length = 0;
  uint32_t ApicId = 0;
  uint32_t Domain = 0;
  uint32_t Flags = 0;
  uint32_t ClockDomain = 0;
  uint64_t Reserved = 0;
};

struct SratReport {
  bool ServiceFound = false;
  std::optional<uint64_t> Status;
  std::vector<SratProcessorEntry> Processors;
  size_t MemoryEntries = 0;
  std::vector<uint8_t> Table;
  std::vector<std::string> Errors;
};

// Calls the service on the BSP with the platform active (from BootOptions::AfterBoot).
SratReport BuildSrat(Platform &Machine);

}  // namespace sim

#endif  // SIM_CONSUMERS_SRAT_BUILDER_H_
