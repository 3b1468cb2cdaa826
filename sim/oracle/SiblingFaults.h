// Which sibling queries fail while the driver answers a service call. A machine may make the n-th
// call of a sibling query fail; a service whose answer depends on that query then takes its
// fallback, and the expected answer must take it too. Calls are counted on from where the boot
// left them: either against a mark taken just before the service call, or one by one as the
// expected answer replays the driver's queries in order.
#ifndef SIM_ORACLE_SIBLING_FAULTS_H_
#define SIM_ORACLE_SIBLING_FAULTS_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "sim/machine/FaultQueries.h"
#include "sim/platform/Platform.h"

namespace sim {

// The fault the machine injects on the Call-th call of Service.Query (a name the services count
// by), if any.
const InjectedFault *FaultOnCall(const Machine &Description, const std::string &Service, const std::string &Query,
                                 uint64_t Call);

class SiblingCallMark {
 public:
  // Marks the calls made so far; an empty mark counts from the start of the boot. On a machine
  // that injects no fault no call can fail, and the mark keeps nothing.
  SiblingCallMark() = default;
  explicit SiblingCallMark(Platform &Machine);

  // Whether the Nth call (1 = the first) of Query after the mark was made and failed.
  bool Failed(Platform &Machine, SiblingQuery Query, uint64_t Nth) const;
  // Whether any call of Query made since the mark failed.
  bool AnyFailed(Platform &Machine, SiblingQuery Query) const;

 private:
  std::map<std::pair<std::string, std::string>, uint64_t> Counts_;
};

// Replays sibling queries one call at a time, each query counting on from the calls the boot made.
class SiblingQueryCounter {
 public:
  explicit SiblingQueryCounter(Platform &Machine) : Machine_(Machine) {}

  // Counts one more call of Query (of the complex that holds Complex, for a query counted by
  // complex) and tells whether the machine makes it fail. Whatever status a fault gives, the
  // sibling returns it without writing its answer.
  bool NextCallFails(SiblingQuery Query);
  bool NextCallFails(SiblingQuery Query, const TopologyPosition &Complex);
  // Whether the machine injects any fault into Query's service (most inject none: nothing to
  // count then).
  bool NamesFaults(SiblingQuery Query) const;

 private:
  bool NextCallFails(const std::string &Service, const std::string &Query);

  Platform &Machine_;
  std::map<std::pair<std::string, std::string>, uint64_t> Calls_;
};

// The NUMA sibling's answer for the complex that holds Position, as the machine configures it (a
// complex it does not name lies in its socket's domain), counting the call: nothing when the
// general domain query or the query for that complex fails.
std::optional<uint32_t> NextProximityDomain(SiblingQueryCounter &Calls, const Machine &Description,
                                            const TopologyPosition &Position);

}  // namespace sim

#endif  // SIM_ORACLE_SIBLING_FAULTS_H_
