// The thread positions a topology walk of the resource affinity services reaches, and the domains
// the NUMA service gives their complexes, as the machine's fabric siblings answer them. The walk
// steps like an odometer (socket, die, complex die, complex, core, thread) and asks the fabric
// topology service for one count per step, carrying into the level above when an index reaches its
// count; a query the machine makes fail ends the walk there, and the service that walked answers
// EFI_DEVICE_ERROR for it, since it has not met every processor. The injected faults of the machine
// count their calls from where the boot has left them, so the expectation must be taken before the
// services are called.
#ifndef SIM_ORACLE_RESOURCE_AFFINITY_WALK_H_
#define SIM_ORACLE_RESOURCE_AFFINITY_WALK_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "sim/cpu/Topology.h"
#include "sim/oracle/SiblingFaults.h"
#include "sim/platform/Platform.h"

namespace sim {

// The step codes of a walk: which level moved at the position reached (socket 0 to thread 5).
constexpr unsigned kWalkStepComplex = 3;

// Answers of the fabric topology and NUMA siblings, counting the calls the machine's injected
// faults are numbered by.
class AffinitySiblingAnswers {
 public:
  explicit AffinitySiblingAnswers(Platform &Machine);

  // The count of Level inside the instance Holder names; nothing when the query fails.
  std::optional<uint32_t> Count(TopologyLevel Level, const TopologyPosition &Holder);
  // The proximity domain of the complex that holds Position; nothing when the query fails.
  std::optional<uint32_t> ProximityDomain(const TopologyPosition &Position);

 private:
  Platform &Machine_;
  SiblingQueryCounter Calls_;
};

// One walk over every thread position, from the start to the end or to the first failed query.
class AffinityThreadWalk {
 public:
  explicit AffinityThreadWalk(AffinitySiblingAnswers &Answers) : Answers_(Answers) {}

  // Moves to the next position and answers its step code; nothing once the walk is over.
  std::optional<unsigned> Next();
  const TopologyPosition &Position() const { return Position_; }
  // The position's number in walk order, 0 for the first.
  uint32_t Number() const { return Number_; }
  // Whether the walk ended because a count query failed, before it had met every position.
  bool LostItsCounts() const { return LostItsCounts_; }

 private:
  // Steps the index of Level (socket 0 to thread 5); answers the code or nothing at the end.
  std::optional<unsigned> Step(unsigned Level);

  AffinitySiblingAnswers &Answers_;
  TopologyPosition Position_;
  bool Started_ = false;
  bool Ended_ = false;
  bool LostItsCounts_ = false;
  uint32_t Number_ = 0;
};

}  // namespace sim

#endif  // SIM_ORACLE_RESOURCE_AFFINITY_WALK_H_
