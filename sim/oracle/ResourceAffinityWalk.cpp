#include "sim/oracle/ResourceAffinityWalk.h"

#include <array>

namespace sim {
namespace {

constexpr const char *kTopologyService = "fabric_topology";
constexpr const char *kNumaService = "fabric_numa";
constexpr const char *kDomainQuery = "GetProximityDomain";

// The fabric topology service's query for the count of each level.
constexpr std::array<const char *, kTopologyLevelCount> kCountQueries = {
    "GetNumberOfSockets",   "GetNumberOfDies",  "GetNumberOfComplexDies",
    "GetNumberOfComplexes", "GetNumberOfCores", "GetNumberOfThreads"};

constexpr unsigned kThreadLevel = static_cast<unsigned>(TopologyLevel::Thread);

}  // namespace

AffinitySiblingAnswers::AffinitySiblingAnswers(Platform &Machine) : Machine_(Machine) {}

bool AffinitySiblingAnswers::NamesFaults(const std::string &Service) const {
  for (const InjectedFault &Fault : Machine_.Description().Faults) {
    if (Fault.Service == Service) return true;
  }
  return false;
}

bool AffinitySiblingAnswers::Fails(const std::string &Service, const std::string &Query) {
  const std::pair<std::string, std::string> Key{Service, Query};
  auto [Counted, Inserted] = Calls_.try_emplace(Key, 0);
  if (Inserted) Counted->second = Machine_.Faults().Calls(Service, Query);
  const uint64_t Number = ++Counted->second;
  // Whatever status a fault gives, the sibling returns it without writing its answer: the domain
  // query keeps the domain before, and the walk ends (the machines fail queries with errors; a
  // count left unwritten under a success status is beyond what can be expected).
  for (const InjectedFault &Fault : Machine_.Description().Faults) {
    if (Fault.Service == Service && Fault.Query == Query && Fault.Call == Number) return true;
  }
  return false;
}

std::optional<uint32_t> AffinitySiblingAnswers::Count(TopologyLevel Level, const TopologyPosition &Holder) {
  // Most machines inject no topology faults: then no call needs counting.
  if (NamesFaults(kTopologyService) && Fails(kTopologyService, kCountQueries[static_cast<unsigned>(Level)])) {
    return std::nullopt;
  }
  return Machine_.Description().Shape.Count(Level, Holder);
}

std::optional<uint32_t> AffinitySiblingAnswers::ProximityDomain(const TopologyPosition &Position) {
  if (NamesFaults(kNumaService)) {
    if (Fails(kNumaService, kDomainQuery)) return std::nullopt;
    // A machine can also fail the query of one complex, named by its indices.
    const std::string ForComplex = std::string(kDomainQuery) + "(" + std::to_string(Position.Socket) + "," +
                                   std::to_string(Position.Die) + "," + std::to_string(Position.ComplexDie) + "," +
                                   std::to_string(Position.Complex) + ")";
    if (Fails(kNumaService, ForComplex)) return std::nullopt;
  }
  // A complex the machine does not name lies in its socket's domain; a later entry for the same
  // complex replaces an earlier one.
  uint32_t Domain = Position.Socket;
  for (const ComplexDomain &Named : Machine_.Description().NumaDomains) {
    if (Named.Socket == Position.Socket && Named.Die == Position.Die && Named.ComplexDie == Position.ComplexDie &&
        Named.Complex == Position.Complex) {
      Domain = Named.Domain;
    }
  }
  return Domain;
}

std::optional<unsigned> AffinityThreadWalk::Step(unsigned Level) {
  const auto ThisLevel = static_cast<TopologyLevel>(Level);
  const std::optional<uint32_t> Count = Answers_.Count(ThisLevel, Position_);
  if (!Count) {
    LostItsCounts_ = true;
    return std::nullopt;
  }
  const uint64_t Next = static_cast<uint64_t>(Position_.At(ThisLevel)) + 1;
  if (Next < *Count) {
    Position_.Set(ThisLevel, static_cast<uint32_t>(Next));
    return Level;
  }
  // An index already past its count ends the walk; one that reaches it carries into the level
  // above, and the socket level has none.
  if (Next > *Count || Level == 0) return std::nullopt;
  const std::optional<unsigned> Carried = Step(Level - 1);
  if (!Carried) return std::nullopt;
  Position_.Set(ThisLevel, 0);
  return Carried;
}

std::optional<unsigned> AffinityThreadWalk::Next() {
  if (Ended_) return std::nullopt;
  if (!Started_) {
    // The first position is reported without asking the service.
    Started_ = true;
    return 0;
  }
  const std::optional<unsigned> Code = Step(kThreadLevel);
  if (!Code) {
    Ended_ = true;
    return std::nullopt;
  }
  Number_++;
  return Code;
}

}  // namespace sim
