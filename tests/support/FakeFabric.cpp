#include "tests/support/FakeFabric.h"

namespace fake {
namespace {

template <typename Protocol>
FakeFabric &OwnerOf(Protocol *This) {
  return *reinterpret_cast<FakeFabricRecord<Protocol> *>(This)->Owner;
}

EFI_STATUS EFIAPI GetNumberOfSockets(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN *Count) {
  return OwnerOf(This).Count("GetNumberOfSockets", 0, {}, Count);
}
EFI_STATUS EFIAPI GetNumberOfDies(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN Socket, UINTN *Count) {
  return OwnerOf(This).Count("GetNumberOfDies", 1, {Socket}, Count);
}
EFI_STATUS EFIAPI GetNumberOfComplexDies(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN Socket, UINTN Die,
                                         UINTN *Count) {
  return OwnerOf(This).Count("GetNumberOfComplexDies", 2, {Socket, Die}, Count);
}
EFI_STATUS EFIAPI GetNumberOfComplexes(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN Socket, UINTN Die,
                                       UINTN ComplexDie, UINTN *Count) {
  return OwnerOf(This).Count("GetNumberOfComplexes", 3, {Socket, Die, ComplexDie}, Count);
}
EFI_STATUS EFIAPI GetNumberOfCores(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN Socket, UINTN Die,
                                   UINTN ComplexDie, UINTN Complex, UINTN *Count) {
  return OwnerOf(This).Count("GetNumberOfCores", 4, {Socket, Die, ComplexDie, Complex}, Count);
}
EFI_STATUS EFIAPI GetNumberOfThreads(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN Socket, UINTN Die,
                                     UINTN ComplexDie, UINTN Complex, UINTN Core, UINTN *Count) {
  return OwnerOf(This).Count("GetNumberOfThreads", 5, {Socket, Die, ComplexDie, Complex, Core}, Count);
}
EFI_STATUS EFIAPI GetRootBridgeInfo(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *, UINTN, UINTN, UINTN, UINTN *,
                                    UINTN *) {
  return EFI_UNSUPPORTED;
}
EFI_STATUS EFIAPI GetSystemInfo(QORVEX_FABRIC_SYSTEM_SERVICES_PROTOCOL *This, UINTN *Sockets, UINTN *TotalDies,
                                UINTN *, UINTN *, UINTN *) {
  return OwnerOf(This).SystemInfo(Sockets, TotalDies);
}
EFI_STATUS EFIAPI CoreTopologyOnDieV1(QORVEX_CORE_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN, UINTN, UINTN *Complexes,
                                    UINTN *Cores, UINTN *Threads) {
  return OwnerOf(This).CoreTopologyOnDie("GetCoreTopologyOnDie", nullptr, Complexes, Cores, Threads);
}
EFI_STATUS EFIAPI CoreTopologyOnDieV2(QORVEX_CORE_TOPOLOGY_SERVICES_V2_PROTOCOL *This, UINTN, UINTN,
                                      UINTN *ComplexDies, UINTN *Complexes, UINTN *Cores, UINTN *Threads) {
  return OwnerOf(This).CoreTopologyOnDie("GetCoreTopologyOnDieV2", ComplexDies, Complexes, Cores, Threads);
}

}  // namespace

FakeFabric::FakeFabric(const FabricShape &Shape)
    : Shape_(Shape),
      Topology_{{1, GetRootBridgeInfo, GetNumberOfSockets, GetNumberOfDies, GetNumberOfComplexDies,
                 GetNumberOfComplexes, GetNumberOfCores, GetNumberOfThreads},
                this},
      System_{{1, GetSystemInfo}, this},
      CoreTopology_{{1, CoreTopologyOnDieV1}, this},
      CoreTopologyV2_{{2, CoreTopologyOnDieV2}, this} {}

void FakeFabric::Override(unsigned Level, const std::vector<UINTN> &Holder, UINTN Count) {
  Overrides_[{Level, Holder}] = Count;
}

void FakeFabric::Fail(const std::string &Query, unsigned Call, EFI_STATUS Status) { Failures_[Query][Call] = Status; }

std::optional<EFI_STATUS> FakeFabric::Injected(const std::string &Query) {
  const unsigned Call = ++Calls_[Query];
  auto It = Failures_.find(Query);
  if (It == Failures_.end()) return std::nullopt;
  auto Failure = It->second.find(Call);
  if (Failure == It->second.end()) return std::nullopt;
  return Failure->second;
}

UINTN FakeFabric::CountOf(unsigned Level, const std::vector<UINTN> &Holder) const {
  auto It = Overrides_.find({Level, Holder});
  return It != Overrides_.end() ? It->second : Shape_.Counts[Level];
}

EFI_STATUS FakeFabric::Count(const char *Query, unsigned Level, const std::vector<UINTN> &Holder, UINTN *Count) {
  std::string Entry = Query;
  if (!Holder.empty()) {
    Entry += "(";
    for (size_t Index = 0; Index < Holder.size(); Index++) Entry += (Index ? "," : "") + std::to_string(Holder[Index]);
    Entry += ")";
  }
  Queries.push_back(Entry);
  if (auto Status = Injected(Query)) return *Status;
  *Count = CountOf(Level, Holder);
  return EFI_SUCCESS;
}

EFI_STATUS FakeFabric::SystemInfo(UINTN *Sockets, UINTN *TotalDies) {
  Queries.push_back("GetSystemInfo");
  if (auto Status = Injected("GetSystemInfo")) return *Status;
  // Callers pass null for the outputs they don't want.
  if (Sockets != nullptr) *Sockets = ReportedSockets.value_or(Shape_.Counts[0]);
  if (TotalDies != nullptr) *TotalDies = ReportedTotalDies.value_or(Shape_.Counts[0] * Shape_.Counts[1]);
  return EFI_SUCCESS;
}

EFI_STATUS FakeFabric::CoreTopologyOnDie(const char *Query, UINTN *ComplexDies, UINTN *Complexes, UINTN *Cores,
                                         UINTN *Threads) {
  Queries.push_back(Query);
  if (auto Status = Injected(Query)) return *Status;
  if (ComplexDies != nullptr) *ComplexDies = Shape_.Counts[2];
  *Complexes = Shape_.Counts[3];
  *Cores = Shape_.Counts[4];
  *Threads = Shape_.Counts[5];
  return EFI_SUCCESS;
}

}  // namespace fake
