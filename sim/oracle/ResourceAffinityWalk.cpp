#include "sim/oracle/ResourceAffinityWalk.h"

#include <array>

namespace sim {
namespace {

// The fabric topology service's query for the count of each level.
constexpr std::array<SiblingQuery, kTopologyLevelCount> kCountQueries = {
    SiblingQuery::TopologySockets,   SiblingQuery::TopologyDies,  SiblingQuery::TopologyComplexDies,
    SiblingQuery::TopologyComplexes, SiblingQuery::TopologyCores, SiblingQuery::TopologyThreads};

constexpr unsigned kThreadLevel = static_cast<unsigned>(TopologyLevel::Thread);

}  // namespace

AffinitySiblingAnswers::AffinitySiblingAnswers(Platform &Machine) : Machine_(Machine), Calls_(Machine) {}

std::optional<uint32_t> AffinitySiblingAnswers::Count(TopologyLevel Level, const TopologyPosition &Holder) {
  const SiblingQuery Query = kCountQueries[static_cast<unsigned>(Level)];
  if (Calls_.NamesFaults(Query) && Calls_.NextCallFails(Query)) {
    return std::nullopt;
  }
  return Machine_.Description().Shape.Count(Level, Holder);
}

std::optional<uint32_t> AffinitySiblingAnswers::ProximityDomain(const TopologyPosition &Position) {
  return NextProximityDomain(Calls_, Machine_.Description(), Position);
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
