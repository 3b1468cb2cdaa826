#include "tools/MachineStateReport.h"

namespace ccxsim {

void PrintMachineState(std::ostream &Out, const sim::BootRecord &Boot) {
  Out << "\nmachine state after the boot (MSRs of every processor, reverse-map table, heap buffers, items, protocols, events, variable):\n";
  if (Boot.StateErrors.empty()) Out << "  as the machine calls for\n";
  for (const std::string &Error : Boot.StateErrors) Out << "  ERROR: " << Error << "\n";
}

nlohmann::json MachineStateJson(const sim::BootRecord &Boot) { return {{"errors", Boot.StateErrors}}; }

}  // namespace ccxsim
