// The shape of a simulated machine: how many sockets, dies, complex dies, complexes, cores and
// threads it has, level by level. Counts may differ between instances of a level (a machine with
// seven cores in one complex and eight in another), so every count is asked for by the instance
// that holds it.
#ifndef SIM_CPU_TOPOLOGY_H_
#define SIM_CPU_TOPOLOGY_H_

#include <array>
#include <compare>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace sim {

enum class TopologyLevel : unsigned { Socket, Die, ComplexDie, Complex, Core, Thread };
constexpr unsigned kTopologyLevelCount = 6;

// The most instances of each level that one instance of the level above it may hold (sockets in
// the machine, dies per socket, ...). The APIC ID fields are sized for these.
constexpr std::array<uint32_t, kTopologyLevelCount> kTopologyLimits = {4, 4, 12, 2, 8, 2};

constexpr uint32_t TopologyLimit(TopologyLevel Level) { return kTopologyLimits[static_cast<unsigned>(Level)]; }

// The plural name of a level as messages use it ("complex dies").
const char *TopologyLevelName(TopologyLevel Level);

// A thread's place in the machine. Positions compare in the order of the topology walk: socket
// first, thread fastest.
struct TopologyPosition {
  uint32_t Socket = 0;
  uint32_t Die = 0;
  uint32_t ComplexDie = 0;
  uint32_t Complex = 0;
  uint32_t Core = 0;
  uint32_t Thread = 0;

  auto operator<=>(const TopologyPosition &) const = default;

  uint32_t At(TopologyLevel Level) const;
  void Set(TopologyLevel Level, uint32_t Index);
  // The instance of Level that holds this position: the indices above Level, the rest zero.
  TopologyPosition ParentOf(TopologyLevel Level) const;
  // "socket 1 die 0 complex die 3 complex 0 core 5 thread 1", down to and including Depth.
  std::string Describe(TopologyLevel Depth = TopologyLevel::Thread) const;
};

// The same count at every instance of a level: the usual way to describe a machine.
struct UniformTopology {
  uint32_t Sockets = 1;
  uint32_t DiesPerSocket = 1;
  uint32_t ComplexDiesPerDie = 1;
  uint32_t ComplexesPerComplexDie = 1;
  uint32_t CoresPerComplex = 1;
  uint32_t ThreadsPerCore = 1;
};

// Raised for a topology that no machine of this generation can have.
class TopologyError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

class Topology {
 public:
  explicit Topology(const UniformTopology &Counts = {});

  // Per-instance overrides of the uniform counts. Each names the instance that holds the counted
  // level; a later call for the same instance replaces the earlier one.
  Topology &SetDies(uint32_t Socket, uint32_t Count);
  Topology &SetComplexDies(uint32_t Socket, uint32_t Die, uint32_t Count);
  Topology &SetComplexes(uint32_t Socket, uint32_t Die, uint32_t ComplexDie, uint32_t Count);
  Topology &SetCores(uint32_t Socket, uint32_t Die, uint32_t ComplexDie, uint32_t Complex, uint32_t Count);
  Topology &SetThreads(uint32_t Socket, uint32_t Die, uint32_t ComplexDie, uint32_t Complex, uint32_t Core,
                       uint32_t Count);
  // The general form: the count of Level inside the instance that Holder names (only the indices
  // above Level are read).
  Topology &SetCount(TopologyLevel Level, const TopologyPosition &Holder, uint32_t Count);

  // How many instances of Level the instance that Holder names holds; the socket count ignores
  // Holder.
  uint32_t Count(TopologyLevel Level, const TopologyPosition &Holder = {}) const;
  // The largest count of Level over every instance that exists.
  uint32_t MaxCount(TopologyLevel Level) const;

  // Every reason the topology is impossible, one sentence each; empty when it is sound.
  std::vector<std::string> Problems() const;
  // Throws TopologyError listing every problem.
  void Validate() const;

  // Every thread position in walk order. Validates first.
  std::vector<TopologyPosition> Walk() const;

 private:
  using OverrideKey = std::pair<TopologyLevel, TopologyPosition>;

  // Calls Visit(Level, Holder) for every instance that holds a level, down to Depth, in walk
  // order; the counts it follows are clamped to the limits so that a bad count cannot make the
  // visit run away.
  template <typename Visitor>
  void ForEachHolder(TopologyLevel Depth, Visitor &&Visit) const;
  bool Exists(TopologyLevel Level, const TopologyPosition &Holder) const;

  std::array<uint32_t, kTopologyLevelCount> Uniform_;
  std::map<OverrideKey, uint32_t> Overrides_;
};

}  // namespace sim

#endif  // SIM_CPU_TOPOLOGY_H_
