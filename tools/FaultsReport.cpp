#include "tools/FaultsReport.h"

#include <string>

#include "tools/Report.h"

namespace ccxsim {
namespace {

std::string Times(uint64_t Count) { return std::to_string(Count) + (Count == 1 ? " time" : " times"); }
std::string Calls(uint64_t Count) { return std::to_string(Count) + (Count == 1 ? " call" : " calls"); }

}  // namespace

void PrintSiblingFaults(std::ostream &Out, const sim::BootRecord &Boot) {
  if (Boot.SiblingFaults.empty()) return;
  Out << "\nsibling faults injected (" << Boot.SiblingFaults.size() << "):\n";
  for (const sim::FaultOutcome &Outcome : Boot.SiblingFaults) {
    const sim::InjectedFault &Fault = Outcome.Fault;
    Out << "  " << Fault.Service << "." << Fault.Query << " call " << Fault.Call << " -> " << StatusName(Fault.Status)
        << ", fired " << Times(Outcome.Fired) << " (the query had " << Calls(Outcome.Calls) << ")\n";
  }
  for (const sim::FaultOutcome &Outcome : Boot.SiblingFaults) {
    if (Outcome.Fired != 0) continue;
    const sim::InjectedFault &Fault = Outcome.Fault;
    Out << "  WARNING: the fault on " << Fault.Service << "." << Fault.Query << " call " << Fault.Call
        << " never fired: the query had " << Calls(Outcome.Calls) << " in this boot\n";
  }
}

nlohmann::json SiblingFaultsJson(const sim::BootRecord &Boot) {
  nlohmann::json Json = nlohmann::json::array();
  for (const sim::FaultOutcome &Outcome : Boot.SiblingFaults) {
    const sim::InjectedFault &Fault = Outcome.Fault;
    Json.push_back({{"service", Fault.Service},
                    {"query", Fault.Query},
                    {"call", Fault.Call},
                    {"status", StatusName(Fault.Status)},
                    {"fired", Outcome.Fired},
                    {"query_calls", Outcome.Calls}});
  }
  return Json;
}

}  // namespace ccxsim
