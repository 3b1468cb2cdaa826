#include "sim/oracle/SiblingFaults.h"

namespace sim {
namespace {

constexpr const char *kNumaService = "fabric_numa";
constexpr const char *kDomainQuery = "GetProximityDomain";

}  // namespace

const InjectedFault *FaultOnCall(const Machine &Description, const std::string &Service, const std::string &Query,
                                 uint64_t Call) {
  for (const InjectedFault &Fault : Description.Faults) {
    if (Fault.Service == Service && Fault.Query == Query && Fault.Call == Call) return &Fault;
  }
  return nullptr;
}

SiblingCallMark::SiblingCallMark(Platform &Machine) {
  if (!Machine.Description().Faults.empty()) Counts_ = Machine.Faults().AllCalls();
}

bool SiblingCallMark::Failed(Platform &Machine, const std::string &Service, const std::string &Query,
                             uint64_t Nth) const {
  const auto Before = Counts_.find({Service, Query});
  const uint64_t Call = (Before == Counts_.end() ? 0 : Before->second) + Nth;
  if (Machine.Faults().Calls(Service, Query) < Call) return false;
  const InjectedFault *Fault = FaultOnCall(Machine.Description(), Service, Query, Call);
  return Fault != nullptr && EFI_ERROR(Fault->Status);
}

bool SiblingQueryCounter::NextCallFails(const std::string &Service, const std::string &Query) {
  auto [Counted, Inserted] = Calls_.try_emplace({Service, Query}, 0);
  if (Inserted) Counted->second = Machine_.Faults().Calls(Service, Query);
  return FaultOnCall(Machine_.Description(), Service, Query, ++Counted->second) != nullptr;
}

bool SiblingQueryCounter::NamesFaults(const std::string &Service) const {
  for (const InjectedFault &Fault : Machine_.Description().Faults) {
    if (Fault.Service == Service) return true;
  }
  return false;
}

std::optional<uint32_t> NextProximityDomain(SiblingQueryCounter &Calls, const Machine &Description,
                                            const TopologyPosition &Position) {
  if (Calls.NamesFaults(kNumaService)) {
    if (Calls.NextCallFails(kNumaService, kDomainQuery)) return std::nullopt;
    // A machine can also fail the query of one complex, named by its indices.
    const std::string ForComplex = std::string(kDomainQuery) + "(" + std::to_string(Position.Socket) + "," +
                                   std::to_string(Position.Die) + "," + std::to_string(Position.ComplexDie) + "," +
                                   std::to_string(Position.Complex) + ")";
    if (Calls.NextCallFails(kNumaService, ForComplex)) return std::nullopt;
  }
  // A later entry for the same complex replaces an earlier one.
  uint32_t Domain = Position.Socket;
  for (const ComplexDomain &Named : Description.NumaDomains) {
    if (Named.Socket == Position.Socket && Named.Die == Position.Die && Named.ComplexDie == Position.ComplexDie &&
        Named.Complex == Position.Complex) {
      Domain = Named.Domain;
    }
  }
  return Domain;
}

}  // namespace sim
