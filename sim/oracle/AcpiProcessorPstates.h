// What the P-state definition registers of the machine say, as the ACPI services must report it:
// the definitions the boot processor holds once boot is over (its reset values, with P-state 0
// replaced by the overclocking options' custom P-state when the overclocking path has run), and
// the frequency, voltage and power of each enabled P-state decoded from them.
#ifndef SIM_ORACLE_ACPI_PROCESSOR_PSTATES_H_
#define SIM_ORACLE_ACPI_PROCESSOR_PSTATES_H_

#include <array>
#include <cstdint>
#include <map>
#include <optional>

#include "arch/Msr.h"
#include "sim/platform/Platform.h"

namespace sim {

struct PstateFigures {
  uint32_t Number = 0;
  uint64_t FrequencyMHz = 0;
  uint64_t VoltageUv = 0;
  uint64_t PowerMw = 0;
};

// The overclocking items that shape P-state 0, as the configuration database holds them.
struct OverclockItems {
  uint8_t Mode = 0;
  bool SkipCustomPstates = false;
  uint32_t P0Frequency = 0;
  uint32_t P0Vid = 0;
  uint32_t P0FrequencyAuto = 0;
  uint32_t P0VidAuto = 0;
  uint16_t FrequencyMax = 0;
  uint16_t VoltageMax = 0;
};

OverclockItems OverclockItemsOf(const std::map<uint64_t, uint64_t> &Pcd);

// The configuration items as the driver reads them at this moment: the machine's, or none at all
// (every item reads as 0) while the configuration database's protocol is not installed.
const std::map<uint64_t, uint64_t> &ReadableItems(Platform &Machine);

// The value a configuration item reads with an accessor of Width bytes (0 when never set).
uint64_t PcdItem(const std::map<uint64_t, uint64_t> &Pcd, uint64_t Token, unsigned Width);

// P-state 0 as the custom P-state handler leaves it: the requested voltage identifier and
// frequency, each limited by its maximum, merged into Definition.
uint64_t CustomPstate0(uint64_t Definition, const OverclockItems &Items);

// The P-state definitions and the registers they are read with, on the boot processor.
struct PstateRegisters {
  std::array<uint64_t, Msr::PstateDefCount> Definitions{};
  uint64_t CurrentLimit = 0;
  uint64_t FrequencyLimit = 0;
};

// From the machine description: the boot processor's reset values, and P-state 0 rewritten when
// the overclocking trigger and MP services are both installed, the handler is not told to skip,
// overclocking is on and the SOC and SMU services it announces the change through were installed
// before it ran.
PstateRegisters ExpectedPstateRegisters(Platform &Machine);

// The figures of P-state Number (0 to 7) from its definition, or nothing when it is not enabled.
// P-state 0 takes the overclocking override of the reported frequency and voltage.
std::optional<PstateFigures> DecodePstate(uint32_t Number, const PstateRegisters &Registers,
                                          const OverclockItems &Items);

}  // namespace sim

#endif  // SIM_ORACLE_ACPI_PROCESSOR_PSTATES_H_
