// Fakes of the fabric's sibling services for unit tests of driver code: the topology service with
// uniform counts, uneven counts where a test overrides them and failing queries, the system
// service, and the two core topology services of the fallback path. Every query is logged.
#ifndef TESTS_SUPPORT_FAKE_FABRIC_H_
#define TESTS_SUPPORT_FAKE_FABRIC_H_

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "interfaces/CoreTopologyServices.h"
#include "interfaces/FabricSystemServices.h"
#include "interfaces/FabricTopologyServices.h"

namespace fake {

// Counts per level, socket first: sockets, dies per socket, complex dies per die, complexes per
// complex die, cores per complex, threads per core.
struct FabricShape {
  UINTN Counts[6];
};

class FakeFabric;

// Each protocol record is followed by its owner, so a thunk finds the fake from This.
template <typename Protocol>
struct FakeFabricRecord {
  Protocol Interface;
  FakeFabric *Owner;
};

class FakeFabric {
 public:
  explicit FakeFabric(const FabricShape &Shape);
  FakeFabric(const FakeFabric &) = delete;
  FakeFabric &operator=(const FakeFabric &) = delete;

  QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Topology() { return &Topology_.Interface; }
  QORVEX_FABRIC_SYSTEM_SERVICES_PROTOCOL *System() { return &System_.Interface; }
  QORVEX_CORE_TOPOLOGY_SERVICES_PROTOCOL *CoreTopology() { return &CoreTopology_.Interface; }
  QORVEX_CORE_TOPOLOGY_SERVICES_V2_PROTOCOL *CoreTopologyV2() { return &CoreTopologyV2_.Interface; }

  // The count of Level (1 = dies .. 5 = threads) inside the instance that Holder's indices name,
  // socket first, e.g. Override(4, {0, 0, 1, 0}, 7) gives complex 0 of complex die 1 seven cores.
  void Override(unsigned Level, const std::vector<UINTN> &Holder, UINTN Count);
  // Makes the Call-th call (1 = the first) of Query return Status; the outputs are then untouched.
  void Fail(const std::string &Query, unsigned Call, EFI_STATUS Status);
  // What GetSystemInfo reports instead of the shape's socket and die totals.
  std::optional<UINTN> ReportedSockets;
  std::optional<UINTN> ReportedTotalDies;

  // Every query, as "<Query>" or "<Query>(<indices>)".
  std::vector<std::string> Queries;

  // Used by the thunks.
  EFI_STATUS Count(const char *Query, unsigned Level, const std::vector<UINTN> &Holder, UINTN *Count);
  EFI_STATUS SystemInfo(UINTN *Sockets, UINTN *TotalDies);
  EFI_STATUS CoreTopologyOnDie(const char *Query, UINTN *ComplexDies, UINTN *Complexes, UINTN *Cores, UINTN *Threads);

 private:
  std::optional<EFI_STATUS> Injected(const std::string &Query);
  UINTN CountOf(unsigned Level, const std::vector<UINTN> &Holder) const;

  FabricShape Shape_;
  std::map<std::pair<unsigned, std::vector<UINTN>>, UINTN> Overrides_;
  std::map<std::string, std::map<unsigned, EFI_STATUS>> Failures_;
  std::map<std::string, unsigned> Calls_;
  FakeFabricRecord<QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL> Topology_;
  FakeFabricRecord<QORVEX_FABRIC_SYSTEM_SERVICES_PROTOCOL> System_;
  FakeFabricRecord<QORVEX_CORE_TOPOLOGY_SERVICES_PROTOCOL> CoreTopology_;
  FakeFabricRecord<QORVEX_CORE_TOPOLOGY_SERVICES_V2_PROTOCOL> CoreTopologyV2_;
};

}  // namespace fake

#endif  // TESTS_SUPPORT_FAKE_FABRIC_H_
