// What QORVEX_CCX_CPPC_SERVICES_PROTOCOL must hand the _CPC builder: the template of the 21
// elements that follow NumEntries and Revision, each a functional-fixed-hardware register (an MSR
// field), an empty register or a callback, closed by the end entry; and the integers the three
// callbacks must compute from the builder's own settings (the machine's "cppc").
#ifndef SIM_ORACLE_CPPC_ORACLE_H_
#define SIM_ORACLE_CPPC_ORACLE_H_

#include <cstdint>
#include <vector>

#include "interfaces/CcxCppcServices.h"
#include "sim/machine/Machine.h"

namespace sim {

struct ExpectedCppcEntry {
  uint8_t Kind = 0;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE Register{};
  // Whether the entry carries a callback address (callback entries) or 0 (all others).
  bool HasCallback = false;
  uint8_t Revision = 0;
  // For callback entries: the integer the callback must return.
  uint32_t CallbackValue = 0;
};

// The 21 element entries followed by the end entry.
std::vector<ExpectedCppcEntry> ExpectedCppcTemplate(const CppcBuilderSettings &Builder);

// The _CPC revision a package of these elements carries.
constexpr uint32_t kExpectedCpcRevision = 3;

}  // namespace sim

#endif  // SIM_ORACLE_CPPC_ORACLE_H_
