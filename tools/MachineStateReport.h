// The report's section on the state a boot left: how it differs from what the machine calls for
// (MSRs on every processor, the reverse-map table, the heap buffers the driver made).
#ifndef TOOLS_MACHINE_STATE_REPORT_H_
#define TOOLS_MACHINE_STATE_REPORT_H_

#include <nlohmann/json.hpp>
#include <ostream>

#include "sim/platform/BootRunner.h"

namespace ccxsim {

void PrintMachineState(std::ostream &Out, const sim::BootRecord &Boot);
nlohmann::json MachineStateJson(const sim::BootRecord &Boot);

}  // namespace ccxsim

#endif  // TOOLS_MACHINE_STATE_REPORT_H_
