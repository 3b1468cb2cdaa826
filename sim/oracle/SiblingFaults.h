// Which sibling queries failed during one service call of the driver. A machine may make the n-th
// call of a sibling query fail; a service whose answer depends on that query then takes its
// fallback, and the expected answer must take it too. The calls are counted from a mark taken
// just before the service call.
#ifndef SIM_ORACLE_SIBLING_FAULTS_H_
#define SIM_ORACLE_SIBLING_FAULTS_H_

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "sim/platform/Platform.h"

namespace sim {

class SiblingCallMark {
 public:
  // Marks the calls made so far; an empty mark counts from the start of the boot.
  SiblingCallMark() = default;
  explicit SiblingCallMark(Platform &Machine) : Counts_(Machine.Faults().AllCalls()) {}

  // Whether the Nth call (1 = the first) of Service.Query after the mark was made and failed.
  bool Failed(Platform &Machine, const std::string &Service, const std::string &Query, uint64_t Nth) const;

 private:
  std::map<std::pair<std::string, std::string>, uint64_t> Counts_;
};

}  // namespace sim

#endif  // SIM_ORACLE_SIBLING_FAULTS_H_
