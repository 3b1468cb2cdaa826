// The SRAT builder, as the platform's outside driver: a revision-3 System Resource Affinity Table
// with the driver's processor affinity entries and one memory affinity entry per DRAM range of
// the machine. What the entries say is read back and checked against the simulated processors:
// every processor the table's form can describe appears once, with its APIC ID.
#ifndef SIM_CONSUMERS_SRAT_BUILDER_H_
#define SIM_CONSUMERS_SRAT_BUILDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/platform/Platform.h"

namespace sim {

struct SratProcessorEntry {
  uint8_t Type = 0;
  uint32_t ApicId = 0;
  uint32_t Domain = 0;
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
