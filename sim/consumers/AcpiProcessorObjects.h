// The builder of the processors' ACPI objects, as an outside driver of the platform: it calls the
// installed QORVEX_CCX_ACPI_SERVICES_PROTOCOL for each socket's APIC IDs and P-state table, for
// the power-state record, for each socket's core count and for each P-state's power, reads the
// results within the sizes they declare, and compares every field with what the simulated machine
// says it must be (sim/oracle/AcpiProcessorOracle.h).
#ifndef SIM_CONSUMERS_ACPI_PROCESSOR_OBJECTS_H_
#define SIM_CONSUMERS_ACPI_PROCESSOR_OBJECTS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/platform/Platform.h"

namespace sim {

struct AcpiPstate {
  uint32_t Number = 0;
  uint32_t FrequencyMHz = 0;
  uint32_t PowerMw = 0;

  bool operator==(const AcpiPstate &) const = default;
};

// One PSTATE_ENTRY of a socket record as it stands, valid or not.
struct AcpiPstateEntry {
  uint32_t Valid = 0;
  uint32_t FrequencyMHz = 0;
  uint32_t PowerMw = 0;
  uint32_t Number = 0;
};

struct AcpiSocketObjects {
  uint32_t Socket = 0;
  // The count the record claims, and the APIC IDs its list holds (at most 512 of them).
  uint32_t ApicIdCount = 0;
  std::vector<uint32_t> ApicIds;
  // The word at 0x805, which is always 0.
  uint32_t Reserved = 0;
  // What ThreadsToCores makes of the socket's thread count.
  uint32_t Cores = 0;
  uint8_t PstateObjectsValid = 0;
  uint32_t PstateMaxVal = 0;
  uint8_t PolicyFlag = 0;
  // The valid entries at the head of the list, and all PstateMaxVal + 1 entries as they stand.
  std::vector<AcpiPstate> Pstates;
  std::vector<AcpiPstateEntry> Entries;
};

struct AcpiPowerState {
  uint8_t Enabled = 0;
  uint32_t IoBaseAddress = 0;
  uint8_t MultiThreaded = 0;
  uint8_t AlwaysOne = 0;
  uint16_t Words[3] = {0, 0, 0};
  uint8_t Reserved[2] = {0, 0};
};

struct AcpiProcessorReport {
  // False when the driver installed no ACPI services (an aborted initialization, for one).
  bool ServiceFound = false;
  std::optional<uint64_t> PstateInfoStatus;
  std::optional<uint64_t> PowerStateStatus;
  uint32_t SocketCount = 0;
  uint32_t BufferSize = 0;
  std::vector<AcpiSocketObjects> Sockets;
  std::optional<AcpiPowerState> PowerState;
  // Every way the answers differ from what the machine calls for, one sentence each (service,
  // record, field, expected and received value), and buffers that do not hold their records.
  std::vector<std::string> Errors;
  // The APIC IDs were compared with the processors (the services answered).
  bool ApicIdsChecked = false;
};

// Calls the services on the BSP with the platform active (from BootOptions::AfterBoot).
AcpiProcessorReport BuildAcpiProcessorObjects(Platform &Machine);

}  // namespace sim

#endif  // SIM_CONSUMERS_ACPI_PROCESSOR_OBJECTS_H_
