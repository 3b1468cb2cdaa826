// The report's section on hardware accesses: what each boot phase and each service call made the
// hardware do, and what that would take on a real machine by the cost model in use.
#ifndef TOOLS_ACCESS_REPORT_H_
#define TOOLS_ACCESS_REPORT_H_

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <utility>

#include "sim/platform/BootRunner.h"
#include "sim/platform/CostModel.h"

namespace ccxsim {

// The cost model the report estimates with: the built-in one until a run chooses another.
void UseCostModel(const sim::CostModel &Model);
const sim::CostModel &ActiveCostModel();

// Phases named with this prefix are the service calls of the consumers, not steps of the boot.
inline const std::string kServicePhasePrefix = "service: ";

// Runs Build (a consumer that calls the driver's services) with its accesses counted apart under
// "service: <Service>", and returns what it built.
template <typename Build>
auto AccountedService(sim::Platform &Machine, const std::string &Service, Build &&Run) {
  sim::AccessScope Scope(Machine.Hardware().Accounting(), kServicePhasePrefix + Service);
  return std::forward<Build>(Run)();
}

// A time in the unit that reads best: "24.1 ms", "310 us", "42 ns".
std::string DurationText(double Nanoseconds);

void PrintAccessReport(std::ostream &Out, const sim::BootRecord &Boot, const sim::CostModel &Model);
nlohmann::json AccessReportJson(const sim::BootRecord &Boot, const sim::CostModel &Model);

}  // namespace ccxsim

#endif  // TOOLS_ACCESS_REPORT_H_
