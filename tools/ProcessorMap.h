// The map from processor index (the topology-walk order the MP services number by) to its place in
// the machine and its APIC ID, as the simulator numbers its processors.
#ifndef TOOLS_PROCESSOR_MAP_H_
#define TOOLS_PROCESSOR_MAP_H_

#include <nlohmann/json.hpp>
#include <ostream>

#include "sim/machine/Machine.h"

namespace ccxsim {

// One line per processor, under a header line that names the columns.
void PrintProcessorMap(std::ostream &Out, const sim::Machine &Machine);
// [{"index", "socket", "die", "complex_die", "complex", "core", "thread", "apic_id"}, ...].
nlohmann::json ProcessorMapJson(const sim::Machine &Machine);

}  // namespace ccxsim

#endif  // TOOLS_PROCESSOR_MAP_H_
