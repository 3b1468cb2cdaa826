// Injected faults of sibling services: the Call-th call of a named query returns a chosen status.
// Every query counts its calls, so a test can also see how often the driver asked, and every fault
// counts how often it fired, so the report can tell a fault that never fired.
#ifndef SIM_SIBLINGS_FAULT_INJECTOR_H_
#define SIM_SIBLINGS_FAULT_INJECTOR_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/cpu/Topology.h"
#include "sim/machine/FaultQueries.h"
#include "sim/machine/Machine.h"

namespace sim {

// One injected fault after a boot: how often it fired, and how often its query was called.
struct FaultOutcome {
  InjectedFault Fault;
  uint64_t Fired = 0;
  uint64_t Calls = 0;
};

class FaultInjector {
 public:
  explicit FaultInjector(std::vector<InjectedFault> Faults = {})
      : Faults_(std::move(Faults)), Fired_(Faults_.size(), 0) {}

  // Counts one call of Query and answers the injected status for this call, if any; a query
  // counted apart for each complex it asks about counts the call of the complex that holds Complex.
  std::optional<uint64_t> Call(SiblingQuery Query);
  std::optional<uint64_t> Call(SiblingQuery Query, const TopologyPosition &Complex);
  uint64_t Calls(std::string_view Service, std::string_view Query) const;
  // Every query that was called, (service, query) → calls: the points a sweep can make fail.
  std::map<std::pair<std::string, std::string>, uint64_t> AllCalls() const;
  // Every fault of the machine, in its order, with how often it fired.
  std::vector<FaultOutcome> Outcomes() const;

 private:
  std::optional<uint64_t> Count(std::string_view Service, std::string_view Query);

  // Orders (service, query) keys held as strings and looked up as views alike: the driver asks
  // thousands of queries a boot, and none of them should have to build a string to be counted.
  struct QueryOrder {
    using is_transparent = void;
    template <typename Left, typename Right>
    bool operator()(const Left &First, const Right &Second) const {
      return std::pair<std::string_view, std::string_view>(First.first, First.second) <
             std::pair<std::string_view, std::string_view>(Second.first, Second.second);
    }
  };

  std::vector<InjectedFault> Faults_;
  mutable std::mutex Lock_;
  std::vector<uint64_t> Fired_;
  std::map<std::pair<std::string, std::string>, uint64_t, QueryOrder> Counts_;
};

}  // namespace sim

#endif  // SIM_SIBLINGS_FAULT_INJECTOR_H_
