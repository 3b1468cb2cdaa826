#include "sim/siblings/FaultInjector.h"

namespace sim {

std::optional<uint64_t> FaultInjector::Call(const std::string &Service, const std::string &Query) {
  std::lock_guard<std::mutex> Guard(Lock_);
  const uint64_t Number = ++Counts_[{Service, Query}];
  for (const InjectedFault &Fault : Faults_) {
    if (Fault.Service == Service && Fault.Query == Query && Fault.Call == Number) return Fault.Status;
  }
  return std::nullopt;
}

uint64_t FaultInjector::Calls(const std::string &Service, const std::string &Query) const {
  std::lock_guard<std::mutex> Guard(Lock_);
  auto It = Counts_.find({Service, Query});
  return It == Counts_.end() ? 0 : It->second;
}

std::map<std::pair<std::string, std::string>, uint64_t> FaultInjector::AllCalls() const {
  std::lock_guard<std::mutex> Guard(Lock_);
  return Counts_;
}

}  // namespace sim
