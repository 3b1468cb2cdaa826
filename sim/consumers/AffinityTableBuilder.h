// The builder of the resource affinity table, as the platform's outside driver: a table under the
// signature "QRAT" (this platform's choice) whose header keeps the entry counters, filled by the
// driver's compute-unit, cache and TLB services in that order. Each service's entries are read
// back from the stretch its call moved the cursor over and compared field by field, with the
// header's counters and the call's status, against what the machine says the service must append.
#ifndef SIM_CONSUMERS_AFFINITY_TABLE_BUILDER_H_
#define SIM_CONSUMERS_AFFINITY_TABLE_BUILDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/platform/Platform.h"

namespace sim {

// The table's signature and the size of its fixed part: the ACPI header, the total entry count,
// the compute-unit count and six reserved bytes.
inline constexpr char kAffinityTableSignature[5] = "QRAT";
constexpr size_t kAffinityTableFixedSize = 48;

struct AffinityComputeUnit {
  uint32_t Domain = 0;
  uint32_t ApicId = 0;
  uint32_t Threads = 0;
};

struct AffinityTableReport {
  bool ServiceFound = false;
  std::optional<uint64_t> ComputeUnitStatus;
  std::optional<uint64_t> CacheStatus;
  std::optional<uint64_t> TlbStatus;
  uint32_t TotalEntries = 0;
  uint32_t ComputeUnitCount = 0;
  std::vector<AffinityComputeUnit> ComputeUnits;
  size_t CacheEntries = 0;
  size_t TlbEntries = 0;
  std::vector<uint8_t> Table;
  // Every difference from the machine, one sentence each.
  std::vector<std::string> Errors;
};

// Calls the services on the BSP with the platform active (from BootOptions::AfterBoot).
AffinityTableReport BuildAffinityTable(Platform &Machine);

}  // namespace sim

#endif  // SIM_CONSUMERS_AFFINITY_TABLE_BUILDER_H_
