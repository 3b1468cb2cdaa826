// The builders of the PCCT, the HEST and the SMBIOS processor and cache structures, as outside
// drivers of the platform: each locates the driver's service, calls it the way a table builder
// does, and assembles the complete table that standard tools read. What the services answered is
// kept beside the bytes and compared field by field with what the machine says they must answer;
// each difference is one sentence in Errors.
#ifndef SIM_CONSUMERS_PLATFORM_TABLES_H_
#define SIM_CONSUMERS_PLATFORM_TABLES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "interfaces/CcxPcctServices.h"
#include "interfaces/CcxSmbiosServices.h"
#include "sim/platform/Platform.h"

namespace sim {

// The doorbell and timing the PCCT builder asks the subspace for.
struct PcctRequest {
  uint32_t DoorbellAddress = 0xFEDC0A00;
  uint32_t NominalLatency = 1000;
  uint32_t MaximumPeriodicAccessRate = 0;
  uint16_t MinimumRequestTurnaroundTime = 100;
};

struct PcctTable {
  bool ServiceFound = false;
  uint64_t Status = 0;
  // The subspace as the service wrote it (only with a success status).
  std::optional<CCX_PCCT_GENERIC_SUBSPACE> Subspace;
  std::vector<uint8_t> Bytes;
  std::vector<std::string> Errors;
};

struct HestTable {
  bool ServiceFound = false;
  uint64_t Status = 0;
  uint32_t Banks = 0;
  std::vector<uint8_t> Bytes;
  std::vector<std::string> Errors;
};

// One socket's records as the SMBIOS service filled them.
struct SmbiosSocket {
  uint32_t Socket = 0;
  CCX_SMBIOS_PROCESSOR_INFO Processor{};
  CCX_SMBIOS_CACHE_INFO Caches[CCX_SMBIOS_CACHE_LEVELS]{};
};

struct SmbiosTables {
  bool ServiceFound = false;
  std::vector<SmbiosSocket> Sockets;
  // The dump: the SMBIOS 3 entry point at offset 0, the structure table from offset 32.
  std::vector<uint8_t> Dump;
  std::vector<std::string> Errors;
};

// Call on the BSP with the platform active (BootOptions::AfterBoot).
PcctTable BuildPcct(Platform &Machine, const PcctRequest &Request = {});
HestTable BuildHest(Platform &Machine);
SmbiosTables BuildSmbios(Platform &Machine);

// The SMBIOS dump of the sockets' records, as BuildSmbios assembles it.
std::vector<uint8_t> SmbiosDump(const std::vector<SmbiosSocket> &Sockets);

}  // namespace sim

#endif  // SIM_CONSUMERS_PLATFORM_TABLES_H_
