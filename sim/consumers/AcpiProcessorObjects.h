// The builder of the processors' ACPI objects, as an outside driver of the platform: it calls the
// installed QORVEX_CCX_ACPI_SERVICES_PROTOCOL for each socket's APIC IDs and P-state table and for
// the power-state record, reads the results within the sizes they declare, and checks the APIC
// IDs against the simulated processors: every socket must list exactly its processors' APIC IDs,
// in the order of the topology walk.
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

struct AcpiSocketObjects {
  uint32_t Socket = 0;
  std::vector<uint32_t> ApicIds;
  // What ThreadsToCores makes of the socket's thread count.
  uint32_t Cores = 0;
  bool PstateObjectsValid = false;
  uint32_t PstateMaxVal = 0;
  bool PolicyFlag = false;
  std::vector<AcpiPstate> Pstates;
};

struct AcpiPowerState {
  bool Enabled = false;
  uint32_t IoBaseAddress = 0;
  bool MultiThreaded = false;
  uint8_t AlwaysOne = 0;
  uint16_t Words[3] = {0, 0, 0};
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
  // Every way the answers differ from the machine, one sentence each: APIC IDs that are not the
  // processors', P-states the machine does not enable, a buffer that does not hold its records.
  std::vector<std::string> Errors;
  // The APIC IDs were compared with the processors (the services answered).
  bool ApicIdsChecked = false;
};

// Calls the services on the BSP with the platform active (from BootOptions::AfterBoot).
AcpiProcessorReport BuildAcpiProcessorObjects(Platform &Machine);

}  // namespace sim

#endif  // SIM_CONSUMERS_ACPI_PROCESSOR_OBJECTS_H_
