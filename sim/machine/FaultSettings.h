// What a machine description says about injected faults and about what its boots are expected to
// show: "faults" and "expect", at the top level and in each entry of "boots".
#ifndef SIM_MACHINE_FAULT_SETTINGS_H_
#define SIM_MACHINE_FAULT_SETTINGS_H_

#include <vector>

#include "sim/machine/Machine.h"

namespace sim {

class JsonCursor;

// [{"service": "fabric_topology", "query": "GetNumberOfCores", "call": 3, "status": "EFI_DEVICE_ERROR"}],
// each service and query one of FaultQueries.h, the status a number or an EFI status name. Appends
// to Faults.
void ReadFaults(const JsonCursor &Node, std::vector<InjectedFault> &Faults);

// {"entry_status": "EFI_DEVICE_ERROR", "fatal_stops": ["0x30910235"], "ran_to_its_end": true,
//  "sibling_failures": ["fabric_topology.GetNumberOfCores"]}.
void ReadExpectation(const JsonCursor &Node, BootExpectation &Expect);

}  // namespace sim

#endif  // SIM_MACHINE_FAULT_SETTINGS_H_
