// The sibling services whose queries a machine can make fail, and the queries of each: the one
// list the services count their calls by and the machine loader checks fault descriptions against.
// A service names its query by a SiblingQuery, so it cannot count a query this list does not hold.
#ifndef SIM_MACHINE_FAULT_QUERIES_H_
#define SIM_MACHINE_FAULT_QUERIES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class SiblingQuery : uint8_t {
  TopologySockets,
  TopologyDies,
  TopologyComplexDies,
  TopologyComplexes,
  TopologyCores,
  TopologyThreads,
  NumaProximityDomain,
  NumaProximityDomainOfComplex,
  SystemInfo,
  CoreTopologyOnDie,
  CoreTopologyOnDieV2,
  OptionRunHook,
  OptionTableSize,
  OptionCopyTable,
  SocOcMessageTable,
  SocMaxCoreFid,
  SocCoreCountInfo,
  SocDieCoreInfo,
  SmuRegisterRead,
  SmuRegisterWrite,
  SmuServiceRequest,
  MmioAllocate,
  RegionRegister,
};

struct SiblingQueryName {
  SiblingQuery Id;
  const char *Service;
  const char *Query;
  // For a query counted apart for each instance it asks about: the form of its arguments, as a
  // fault names them after the query ("(socket,die,complex_die,complex)"); null otherwise.
  const char *Arguments;
};

// Every query, grouped by service, in the order docs/machines.md lists them.
const std::vector<SiblingQueryName> &SiblingQueries();
const SiblingQueryName &NameOf(SiblingQuery Query);

// The services, each once, in table order; and the queries of one, written as a fault names them
// (a query with arguments shows their form). Empty for a service the table does not hold.
std::vector<std::string> FaultServices();
std::vector<std::string> FaultQueriesOf(std::string_view Service);

// The name a fault gives to Query of one complex: "GetProximityDomain(1,0,2,0)".
std::string ComplexQueryName(SiblingQuery Query, uint32_t Socket, uint32_t Die, uint32_t ComplexDie, uint32_t Complex);

// The query Text names for Service as the services count it (arguments written without spaces),
// or nothing when Service has no such query.
std::optional<std::string> CountedQueryName(std::string_view Service, std::string_view Text);

}  // namespace sim

#endif  // SIM_MACHINE_FAULT_QUERIES_H_
