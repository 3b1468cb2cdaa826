// What the SMBIOS processor and cache information service must answer on the simulated machine,
// computed from the machine alone: the bootstrap processor's CPUID leaves and MSR file, the
// topology and what the SOC, SMU, fabric and configuration-item siblings answer for it. Where the
// machine makes a sibling query fail during the call (counted from Mark, taken just before it),
// the expected answer takes the service's fallback for that query.
#ifndef SIM_ORACLE_SMBIOS_ORACLE_H_
#define SIM_ORACLE_SMBIOS_ORACLE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "interfaces/CcxSmbiosServices.h"
#include "sim/oracle/SiblingFaults.h"
#include "sim/platform/Platform.h"

namespace sim {

// The type 4 record of one socket.
CCX_SMBIOS_PROCESSOR_INFO ExpectedProcessorInfo(Platform &Machine, uint32_t Socket, const SiblingCallMark &Mark = {});
// The three type 7 records (levels 1, 2, 3) of the bootstrap processor's package.
void ExpectedCacheInfo(Platform &Machine, CCX_SMBIOS_CACHE_INFO (&Caches)[CCX_SMBIOS_CACHE_LEVELS],
                       const SiblingCallMark &Mark = {});

// The status GetCacheInfo must answer: EFI_DEVICE_ERROR when its level-3 size can't be whole,
// because MP services are missing or a topology count failed while the size is summed complex by
// complex, or the sockets it is shared among could not be counted. The records are filled either way.
uint64_t ExpectedCacheInfoStatus(Platform &Machine, const SiblingCallMark &Mark = {});

// A cache size in KiB as the records store it: the 16-bit and the 32-bit form.
struct EncodedCacheSize {
  uint16_t Size16 = 0;
  uint32_t Size32 = 0;
};
EncodedCacheSize EncodeCacheSize(uint64_t KiB);

// Compares what the service answered for one socket with the machine, adding one sentence per
// differing field to Errors.
void CheckProcessorInfo(Platform &Machine, uint32_t Socket, const SiblingCallMark &Mark, uint64_t Status,
                        const CCX_SMBIOS_PROCESSOR_INFO &Received, std::vector<std::string> &Errors);
void CheckCacheInfo(Platform &Machine, uint32_t Socket, const SiblingCallMark &Mark, uint64_t Status,
                    const CCX_SMBIOS_CACHE_INFO (&Received)[CCX_SMBIOS_CACHE_LEVELS], std::vector<std::string> &Errors);

}  // namespace sim

#endif  // SIM_ORACLE_SMBIOS_ORACLE_H_
