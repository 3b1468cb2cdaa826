// The report's list of injected sibling faults: each with how often it fired in the boot, and a
// warning for a fault that never fired (a call number past the calls the boot made, say).
#ifndef TOOLS_FAULTS_REPORT_H_
#define TOOLS_FAULTS_REPORT_H_

#include <nlohmann/json.hpp>
#include <ostream>

#include "sim/platform/BootRunner.h"

namespace ccxsim {

void PrintSiblingFaults(std::ostream &Out, const sim::BootRecord &Boot);
nlohmann::json SiblingFaultsJson(const sim::BootRecord &Boot);

}  // namespace ccxsim

#endif  // TOOLS_FAULTS_REPORT_H_
