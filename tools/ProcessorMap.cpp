#include "tools/ProcessorMap.h"

#include <cstdio>

#include "sim/HexText.h"

namespace ccxsim {
namespace {

// The processors as the boot numbers them; empty, with the reason in Problem, for a machine whose
// processors cannot be numbered (its boot then says why it could not run).
std::vector<sim::ProcessorIdentity> Numbered(const sim::Machine &Machine, std::string &Problem) {
  try {
    return sim::NumberProcessors(Machine.Shape, Machine.Processors);
  } catch (const std::exception &Error) {
    Problem = Error.what();
    return {};
  }
}

}  // namespace

void PrintProcessorMap(std::ostream &Out, const sim::Machine &Machine) {
  std::string Problem;
  const std::vector<sim::ProcessorIdentity> Identities = Numbered(Machine, Problem);
  Out << "\nprocessors (" << Identities.size() << "):\n";
  if (!Problem.empty()) Out << "  cannot be numbered: " << Problem << "\n";
  Out << "  index socket die complex_die complex core thread  apic_id\n";
  for (const sim::ProcessorIdentity &Identity : Identities) {
    const sim::TopologyPosition &At = Identity.Position;
    char Line[96];
    std::snprintf(Line, sizeof(Line), "  %5zu %6u %3u %11u %7u %4u %6u  %s\n", Identity.Index, At.Socket, At.Die,
                  At.ComplexDie, At.Complex, At.Core, At.Thread, sim::Hex(Identity.ApicId, 2).c_str());
    Out << Line;
  }
}

nlohmann::json ProcessorMapJson(const sim::Machine &Machine) {
  nlohmann::json Json = nlohmann::json::array();
  std::string Problem;
  for (const sim::ProcessorIdentity &Identity : Numbered(Machine, Problem)) {
    const sim::TopologyPosition &At = Identity.Position;
    Json.push_back({{"index", Identity.Index},
                    {"socket", At.Socket},
                    {"die", At.Die},
                    {"complex_die", At.ComplexDie},
                    {"complex", At.Complex},
                    {"core", At.Core},
                    {"thread", At.Thread},
                    {"apic_id", Identity.ApicId}});
  }
  return Json;
}

}  // namespace ccxsim
