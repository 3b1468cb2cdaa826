// What QORVEX_CCX_ACPI_SERVICES_PROTOCOL must answer on a simulated machine: the P-state
// information buffer (socket count, size, and per socket the APIC IDs in walk order with the
// enabled P-states of the boot processor), the power-state record, the thread-to-core conversion
// and each P-state's power. Computed from the machine description and the simulated processors.
#ifndef SIM_ORACLE_ACPI_PROCESSOR_ORACLE_H_
#define SIM_ORACLE_ACPI_PROCESSOR_ORACLE_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/oracle/AcpiProcessorPstates.h"
#include "sim/platform/Platform.h"

namespace sim {

struct ExpectedPstateSocket {
  uint32_t Socket = 0;
  // Every thread of the socket in walk order; a record lists at most the first 512 of them but
  // counts them all.
  std::vector<uint32_t> ApicIds;
};

struct ExpectedPstateInfo {
  uint8_t SocketCount = 0;
  uint32_t BufferSize = 0;
  uint32_t PstateMaxVal = 0;
  uint8_t PolicyFlag = 0;
  uint8_t PstateObjectsValid = 0;
  // The enabled P-states up to PstateMaxVal, in ascending order; every socket carries the same.
  std::vector<PstateFigures> Pstates;
  std::vector<ExpectedPstateSocket> Sockets;
  // For GetPstatePower: every P-state definition, enabled or not (index = P-state number).
  std::vector<std::optional<PstateFigures>> AllPstates;
  // For ThreadsToCores.
  uint32_t ThreadsPerCore = 1;
};

struct ExpectedPowerState {
  uint8_t Enabled = 0;
  uint32_t IoBaseAddress = 0;
  uint8_t MultiThreaded = 0;
  uint8_t AlwaysOne = 1;
  uint16_t Words[3] = {0, 0, 0};
};

ExpectedPstateInfo ExpectedAcpiPstateInfo(Platform &Machine);
ExpectedPowerState ExpectedAcpiPowerState(Platform &Machine);

}  // namespace sim

#endif  // SIM_ORACLE_ACPI_PROCESSOR_ORACLE_H_
