#include "sim/oracle/SiblingFaults.h"

namespace sim {

bool SiblingCallMark::Failed(Platform &Machine, const std::string &Service, const std::string &Query,
                             uint64_t Nth) const {
  const auto Before = Counts_.find({Service, Query});
  const uint64_t Call = (Before == Counts_.end() ? 0 : Before->second) + Nth;
  if (Machine.Faults().Calls(Service, Query) < Call) return false;
  for (const InjectedFault &Fault : Machine.Description().Faults) {
    if (Fault.Service == Service && Fault.Query == Query && Fault.Call == Call && EFI_ERROR(Fault.Status)) return true;
  }
  return false;
}

}  // namespace sim
