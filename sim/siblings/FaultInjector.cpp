#include "sim/siblings/FaultInjector.h"

#include <stdexcept>

namespace sim {

std::optional<uint64_t> FaultInjector::Call(SiblingQuery Query) {
  const SiblingQueryName &Name = NameOf(Query);
  if (Name.Arguments != nullptr) throw std::logic_error(std::string(Name.Query) + " is counted by its arguments");
  return Count(Name.Service, Name.Query);
}

std::optional<uint64_t> FaultInjector::Call(SiblingQuery Query, const TopologyPosition &Complex) {
  return Count(NameOf(Query).Service,
               ComplexQueryName(Query, Complex.Socket, Complex.Die, Complex.ComplexDie, Complex.Complex));
}

std::optional<uint64_t> FaultInjector::Count(std::string_view Service, std::string_view Query) {
  std::lock_guard<std::mutex> Guard(Lock_);
  auto Counted = Counts_.find(std::pair(Service, Query));
  if (Counted == Counts_.end()) Counted = Counts_.emplace(std::pair(std::string(Service), std::string(Query)), 0).first;
  const uint64_t Number = ++Counted->second;
  for (size_t Index = 0; Index < Faults_.size(); Index++) {
    const InjectedFault &Fault = Faults_[Index];
    if (Fault.Service == Service && Fault.Query == Query && Fault.Call == Number) {
      Fired_[Index]++;
      return Fault.Status;
    }
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

std::vector<FaultOutcome> FaultInjector::Outcomes() const {
  std::lock_guard<std::mutex> Guard(Lock_);
  std::vector<FaultOutcome> Result;
  for (size_t Index = 0; Index < Faults_.size(); Index++) {
    const InjectedFault &Fault = Faults_[Index];
    auto It = Counts_.find(std::pair(std::string_view(Fault.Service), std::string_view(Fault.Query)));
    Result.push_back({Fault, Fired_[Index], It == Counts_.end() ? 0 : It->second});
  }
  return Result;
}

}  // namespace sim
