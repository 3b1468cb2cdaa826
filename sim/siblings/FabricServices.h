// The fabric's sibling services, built from the machine's topology: the topology service (counts
// per level, in its fixed slot order), the NUMA service (a proximity domain per complex), the
// system service (socket and die totals) and the two core topology services of the fallback path.
// Every query can be made to fail through the fault injector ("fabric_topology", "GetNumberOfCores").
#ifndef SIM_SIBLINGS_FABRIC_SERVICES_H_
#define SIM_SIBLINGS_FABRIC_SERVICES_H_

#include "interfaces/CoreTopologyServices.h"
#include "interfaces/FabricNumaServices.h"
#include "interfaces/FabricSystemServices.h"
#include "interfaces/FabricTopologyServices.h"
#include "sim/cpu/Topology.h"
#include "sim/siblings/FaultInjector.h"

namespace sim {

class FabricServices;

// Each record is the first member of a holder that leads back to its owner.
struct TopologyServiceRecord {
  QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL Protocol;
  FabricServices *Owner;
};
struct NumaServiceRecord {
  QORVEX_FABRIC_NUMA_SERVICES_PROTOCOL Protocol;
  FabricServices *Owner;
};
struct SystemServiceRecord {
  QORVEX_FABRIC_SYSTEM_SERVICES_PROTOCOL Protocol;
  FabricServices *Owner;
};
struct CoreTopologyRecord {
  QORVEX_CORE_TOPOLOGY_SERVICES_PROTOCOL Protocol;
  FabricServices *Owner;
};
struct CoreTopologyV2Record {
  QORVEX_CORE_TOPOLOGY_SERVICES_V2_PROTOCOL Protocol;
  FabricServices *Owner;
};

class FabricServices {
 public:
  FabricServices(const Topology &Shape, FaultInjector &Faults);
  FabricServices(const FabricServices &) = delete;
  FabricServices &operator=(const FabricServices &) = delete;

  QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *TopologyProtocol() { return &Topology_.Protocol; }
  QORVEX_FABRIC_NUMA_SERVICES_PROTOCOL *NumaProtocol() { return &Numa_.Protocol; }
  QORVEX_FABRIC_SYSTEM_SERVICES_PROTOCOL *SystemProtocol() { return &System_.Protocol; }
  QORVEX_CORE_TOPOLOGY_SERVICES_PROTOCOL *CoreTopologyProtocol() { return &CoreTopology_.Protocol; }
  QORVEX_CORE_TOPOLOGY_SERVICES_V2_PROTOCOL *CoreTopologyV2Protocol() { return &CoreTopologyV2_.Protocol; }

  // The proximity domain of a complex: its socket, unless the machine says otherwise.
  void SetProximityDomain(const TopologyPosition &Complex, uint32_t Domain);

  // Used by the protocol thunks. Level counts below Holder (indices above Level are read); an index
  // at or above its count is EFI_INVALID_PARAMETER.
  EFI_STATUS CountQuery(SiblingQuery Query, TopologyLevel Level, const TopologyPosition &Holder, UINTN *Count);
  EFI_STATUS ProximityDomain(const TopologyPosition &Complex, UINT32 *Domain);
  EFI_STATUS SystemInfo(UINTN *Sockets, UINTN *Dies, UINTN *RootBridges, UINTN *SystemRootBridge, UINTN *Bus);
  EFI_STATUS CoreTopologyOnDie(SiblingQuery Query, UINTN Socket, UINTN Die, UINTN *ComplexDies, UINTN *Complexes,
                               UINTN *Cores, UINTN *Threads);

 private:
  // Whether every index above Level names an instance that exists.
  bool Exists(TopologyLevel Level, const TopologyPosition &Holder) const;

  const Topology &Shape_;
  FaultInjector &Faults_;
  std::map<TopologyPosition, uint32_t> Domains_;
  TopologyServiceRecord Topology_;
  NumaServiceRecord Numa_;
  SystemServiceRecord System_;
  CoreTopologyRecord CoreTopology_;
  CoreTopologyV2Record CoreTopologyV2_;
};

}  // namespace sim

#endif  // SIM_SIBLINGS_FABRIC_SERVICES_H_
