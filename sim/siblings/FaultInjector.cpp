#include "sim/siblings/FaultInjector.h"

namespace sim {

std::optional<uint64_t> FaultInjector::Call(std::string_view Service, std::string_view Query) {
  std::lock_guard<std::mutex> Guard(Lock_);
  auto Counted = Counts_.find(std::pair(Service, Query));
  if (Counted == Counts_.end()) Counted = Counts_.emplace(std::pair(std::string(Service), std::string(Query)), 0).first;
  const uint64_t Number = ++Counted->second;
  for (const InjectedFault &Fault : Faults_) {
    if (Fault.Service == Service && Fault.Query == Query && Fault.Call == Number) return Fault.Status;
  }
  return std::nullopt;
}

uint64_t FaultInjector::Calls(std::string_view Service, std::string_view Query) const {
  std::lock_guard<std::mutex> Guard(Lock_);
  auto It = Counts_.find(std::pair(Service, Query));
  return It == Counts_.end() ? 0 : It->second;
}

std::map<std::pair<std::string, std::string>, uint64_t> FaultInjector::AllCalls() const {
  std::lock_guard<std::mutex> Guard(Lock_);
  return {Counts_.begin(), Counts_.end()};
}

}  // namespace sim
