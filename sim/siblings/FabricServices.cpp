#include "sim/siblings/FabricServices.h"

namespace sim {
namespace {

template <typename Record, typename Protocol>
FabricServices &OwnerOf(Protocol *This) {
  return *reinterpret_cast<Record *>(This)->Owner;
}

TopologyPosition Position(UINTN Socket, UINTN Die = 0, UINTN ComplexDie = 0, UINTN Complex = 0, UINTN Core = 0) {
  // Indices beyond 32 bits can't name an instance; they are clamped to a value no count reaches.
  auto Narrow = [](UINTN Value) { return Value > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(Value); };
  TopologyPosition Result;
  Result.Socket = Narrow(Socket);
  Result.Die = Narrow(Die);
  Result.ComplexDie = Narrow(ComplexDie);
  Result.Complex = Narrow(Complex);
  Result.Core = Narrow(Core);
  return Result;
}

EFI_STATUS EFIAPI GetNumberOfSockets(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN *Count) {
  return OwnerOf<TopologyServiceRecord>(This).CountQuery(SiblingQuery::TopologySockets, TopologyLevel::Socket, {},
                                                         Count);
}
EFI_STATUS EFIAPI GetNumberOfDies(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN Socket, UINTN *Count) {
  return OwnerOf<TopologyServiceRecord>(This).CountQuery(SiblingQuery::TopologyDies, TopologyLevel::Die,
                                                         Position(Socket), Count);
}
EFI_STATUS EFIAPI GetNumberOfComplexDies(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN Socket, UINTN Die,
                                         UINTN *Count) {
  return OwnerOf<TopologyServiceRecord>(This).CountQuery(SiblingQuery::TopologyComplexDies, TopologyLevel::ComplexDie,
                                                         Position(Socket, Die), Count);
}
EFI_STATUS EFIAPI GetNumberOfComplexes(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN Socket, UINTN Die,
                                       UINTN ComplexDie, UINTN *Count) {
  return OwnerOf<TopologyServiceRecord>(This).CountQuery(SiblingQuery::TopologyComplexes, TopologyLevel::Complex,
                                                         Position(Socket, Die, ComplexDie), Count);
}
EFI_STATUS EFIAPI GetNumberOfCores(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN Socket, UINTN Die,
                                   UINTN ComplexDie, UINTN Complex, UINTN *Count) {
  return OwnerOf<TopologyServiceRecord>(This).CountQuery(SiblingQuery::TopologyCores, TopologyLevel::Core,
                                                         Position(Socket, Die, ComplexDie, Complex), Count);
}
EFI_STATUS EFIAPI GetNumberOfThreads(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN Socket, UINTN Die,
                                     UINTN ComplexDie, UINTN Complex, UINTN Core, UINTN *Count) {
  return OwnerOf<TopologyServiceRecord>(This).CountQuery(SiblingQuery::TopologyThreads, TopologyLevel::Thread,
                                                         Position(Socket, Die, ComplexDie, Complex, Core), Count);
}
EFI_STATUS EFIAPI GetRootBridgeInfo(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *, UINTN, UINTN, UINTN, UINTN *,
                                    UINTN *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI GetProximityDomain(QORVEX_FABRIC_NUMA_SERVICES_PROTOCOL *This, UINTN Socket, UINTN Die,
                                     UINTN ComplexDie, UINTN Complex, UINT32 *Domain) {
  return OwnerOf<NumaServiceRecord>(This).ProximityDomain(Position(Socket, Die, ComplexDie, Complex), Domain);
}

EFI_STATUS EFIAPI GetSystemInfo(QORVEX_FABRIC_SYSTEM_SERVICES_PROTOCOL *This, UINTN *Sockets, UINTN *Dies,
                                UINTN *RootBridges, UINTN *SystemRootBridge, UINTN *Bus) {
  return OwnerOf<SystemServiceRecord>(This).SystemInfo(Sockets, Dies, RootBridges, SystemRootBridge, Bus);
}

EFI_STATUS EFIAPI ThunkCoreTopologyOnDie(QORVEX_CORE_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN Socket, UINTN Die,
                                    UINTN *Complexes, UINTN *Cores, UINTN *Threads) {
  return OwnerOf<CoreTopologyRecord>(This).CoreTopologyOnDie(SiblingQuery::CoreTopologyOnDie, Socket, Die, nullptr,
                                                             Complexes, Cores, Threads);
}
EFI_STATUS EFIAPI CoreTopologyOnDieV2(QORVEX_CORE_TOPOLOGY_SERVICES_V2_PROTOCOL *This, UINTN Socket, UINTN Die,
                                      UINTN *ComplexDies, UINTN *Complexes, UINTN *Cores, UINTN *Threads) {
  return OwnerOf<CoreTopologyV2Record>(This).CoreTopologyOnDie(SiblingQuery::CoreTopologyOnDieV2, Socket, Die,
                                                               ComplexDies, Complexes, Cores, Threads);
}

}  // namespace

FabricServices::FabricServices(const Topology &Shape, FaultInjector &Faults)
    : Shape_(Shape),
      Faults_(Faults),
      Topology_{{1, GetRootBridgeInfo, GetNumberOfSockets, GetNumberOfDies, GetNumberOfComplexDies,
                 GetNumberOfComplexes, GetNumberOfCores, GetNumberOfThreads},
                this},
      Numa_{{1, GetProximityDomain}, this},
      System_{{1, GetSystemInfo}, this},
      CoreTopology_{{1, ThunkCoreTopologyOnDie}, this},
      CoreTopologyV2_{{2, CoreTopologyOnDieV2}, this} {}

void FabricServices::SetProximityDomain(const TopologyPosition &Complex, uint32_t Domain) {
  Domains_[Complex.ParentOf(TopologyLevel::Core)] = Domain;
}

bool FabricServices::Exists(TopologyLevel Level, const TopologyPosition &Holder) const {
  for (unsigned Above = 0; Above < static_cast<unsigned>(Level); Above++) {
    const auto AboveLevel = static_cast<TopologyLevel>(Above);
    if (Holder.At(AboveLevel) >= Shape_.Count(AboveLevel, Holder)) return false;
  }
  return true;
}

EFI_STATUS FabricServices::CountQuery(SiblingQuery Query, TopologyLevel Level, const TopologyPosition &Holder,
                                      UINTN *Count) {
  if (auto Injected = Faults_.Call(Query)) return *Injected;
  if (Count == nullptr || !Exists(Level, Holder)) return EFI_INVALID_PARAMETER;
  *Count = Shape_.Count(Level, Holder);
  return EFI_SUCCESS;
}

EFI_STATUS FabricServices::ProximityDomain(const TopologyPosition &Complex, UINT32 *Domain) {
  if (auto Injected = Faults_.Call(SiblingQuery::NumaProximityDomain)) return *Injected;
  // A machine can also fail the query for one complex only, by its indices.
  if (auto Injected = Faults_.Call(SiblingQuery::NumaProximityDomainOfComplex, Complex)) return *Injected;
  if (Domain == nullptr || !Exists(TopologyLevel::Core, Complex)) return EFI_INVALID_PARAMETER;
  auto It = Domains_.find(Complex.ParentOf(TopologyLevel::Core));
  *Domain = It != Domains_.end() ? It->second : Complex.Socket;
  return EFI_SUCCESS;
}

EFI_STATUS FabricServices::SystemInfo(UINTN *Sockets, UINTN *Dies, UINTN *RootBridges, UINTN *SystemRootBridge,
                                      UINTN *Bus) {
  if (auto Injected = Faults_.Call(SiblingQuery::SystemInfo)) return *Injected;
  const uint32_t SocketCount = Shape_.Count(TopologyLevel::Socket);
  UINTN DieTotal = 0;
  for (uint32_t Socket = 0; Socket < SocketCount; Socket++) {
    TopologyPosition Holder;
    Holder.Socket = Socket;
    DieTotal += Shape_.Count(TopologyLevel::Die, Holder);
  }
  if (Sockets != nullptr) *Sockets = SocketCount;
  if (Dies != nullptr) *Dies = DieTotal;
  // One root bridge per die; the first one, on bus 0, is the system's.
  if (RootBridges != nullptr) *RootBridges = DieTotal;
  if (SystemRootBridge != nullptr) *SystemRootBridge = 0;
  if (Bus != nullptr) *Bus = 0;
  return EFI_SUCCESS;
}

EFI_STATUS FabricServices::CoreTopologyOnDie(SiblingQuery Query, UINTN Socket, UINTN Die, UINTN *ComplexDies,
                                             UINTN *Complexes, UINTN *Cores, UINTN *Threads) {
  if (auto Injected = Faults_.Call(Query)) return *Injected;
  const TopologyPosition Holder = Position(Socket, Die);
  if (!Exists(TopologyLevel::ComplexDie, Holder)) return EFI_INVALID_PARAMETER;
  // Counts of the die's first complex die, complex and core stand for the whole die.
  if (ComplexDies != nullptr) *ComplexDies = Shape_.Count(TopologyLevel::ComplexDie, Holder);
  if (Complexes != nullptr) *Complexes = Shape_.Count(TopologyLevel::Complex, Holder);
  if (Cores != nullptr) *Cores = Shape_.Count(TopologyLevel::Core, Holder);
  if (Threads != nullptr) *Threads = Shape_.Count(TopologyLevel::Thread, Holder);
  return EFI_SUCCESS;
}

}  // namespace sim
