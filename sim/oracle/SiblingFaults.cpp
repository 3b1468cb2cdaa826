#include "sim/oracle/SiblingFaults.h"

namespace sim {
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

bool SiblingCallMark::Failed(Platform &Machine, SiblingQuery Query, uint64_t Nth) const {
  const std::string Service = NameOf(Query).Service;
  const std::string Name = NameOf(Query).Query;
  const auto Before = Counts_.find({Service, Name});
  const uint64_t Call = (Before == Counts_.end() ? 0 : Before->second) + Nth;
  if (Machine.Faults().Calls(Service, Name) < Call) return false;
  const InjectedFault *Fault = FaultOnCall(Machine.Description(), Service, Name, Call);
  return Fault != nullptr && EFI_ERROR(Fault->Status);
}

bool SiblingCallMark::AnyFailed(Platform &Machine, SiblingQuery Query) const {
  const std::string Service = NameOf(Query).Service;
  const std::string Name = NameOf(Query).Query;
  const auto Before = Counts_.find({Service, Name});
  const uint64_t First = (Before == Counts_.end() ? 0 : Before->second) + 1;
  const uint64_t Last = Machine.Faults().Calls(Service, Name);
  for (const InjectedFault &Fault : Machine.Description().Faults) {
    if (Fault.Service == Service && Fault.Query == Name && Fault.Call >= First && Fault.Call <= Last &&
        EFI_ERROR(Fault.Status)) {
      return true;
    }
  }
  return false;
}

bool SiblingQueryCounter::NextCallFails(const std::string &Service, const std::string &Query) {
  auto [Counted, Inserted] = Calls_.try_emplace({Service, Query}, 0);
  if (Inserted) Counted->second = Machine_.Faults().Calls(Service, Query);
  return FaultOnCall(Machine_.Description(), Service, Query, ++Counted->second) != nullptr;
}

bool SiblingQueryCounter::NextCallFails(SiblingQuery Query) {
  return NextCallFails(NameOf(Query).Service, NameOf(Query).Query);
}

bool SiblingQueryCounter::NextCallFails(SiblingQuery Query, const TopologyPosition &Complex) {
  return NextCallFails(NameOf(Query).Service,
                       ComplexQueryName(Query, Complex.Socket, Complex.Die, Complex.ComplexDie, Complex.Complex));
}

bool SiblingQueryCounter::NamesFaults(SiblingQuery Query) const {
  for (const InjectedFault &Fault : Machine_.Description().Faults) {
    if (Fault.Service == NameOf(Query).Service) return true;
  }
  return false;
}

std::optional<uint32_t> NextProximityDomain(SiblingQueryCounter &Calls, const Machine &Description,
                                            const TopologyPosition &Position) {
  if (Calls.NamesFaults(SiblingQuery::NumaProximityDomain)) {
    if (Calls.NextCallFails(SiblingQuery::NumaProximityDomain)) return std::nullopt;
    // A machine can also fail the query of one complex, named by its indices.
    if (Calls.NextCallFails(SiblingQuery::NumaProximityDomainOfComplex, Position)) return std::nullopt;
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
