// The driver's services as the consumers call them after the boot, one entry per consumer: the
// names the access report counts them under, and a way to run each one alone (for benchmarks).
#ifndef TOOLS_SERVICE_CALLS_H_
#define TOOLS_SERVICE_CALLS_H_

#include <cstddef>

#include "sim/platform/Platform.h"

namespace ccxsim {

inline constexpr const char *kServiceAcpiProcessors = "ACPI processor objects (GetPstateInfo, GetPowerStateInfo, GetPstatePower)";
inline constexpr const char *kServicePcct = "PCCT subspace (AddGenCommSubspaceStruct)";
inline constexpr const char *kServiceHest = "HEST banks (GetMcaBankInfo)";
inline constexpr const char *kServiceSmbios = "SMBIOS records (GetProcessorInfo, GetCacheInfo)";
inline constexpr const char *kServiceSrat = "SRAT entries (AddProcessorAffinityEntries)";
inline constexpr const char *kServiceAffinity = "resource affinity entries (AddComputeUnitEntries, AddCacheEntries, AddTlbEntries)";
inline constexpr const char *kServiceCppc = "CPPC template (GetCppcTemplate)";

struct ServiceCall {
  const char *Name;
  // Runs the consumer once against the booted platform; what it builds is dropped.
  void (*Run)(sim::Platform &Machine);
};

// Every consumer's service call, in the order ccxsim makes them.
const ServiceCall *ServiceCalls(size_t &Count);

}  // namespace ccxsim

#endif  // TOOLS_SERVICE_CALLS_H_
