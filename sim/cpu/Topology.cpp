#include "sim/cpu/Topology.h"

#include <algorithm>

namespace sim {
namespace {

constexpr std::array<const char *, kTopologyLevelCount> kSingularNames = {"socket",  "die",  "complex die",
                                                                          "complex", "core", "thread"};
constexpr std::array<const char *, kTopologyLevelCount> kPluralNames = {"sockets",   "dies",  "complex dies",
                                                                        "complexes", "cores", "threads"};

unsigned IndexOf(TopologyLevel Level) { return static_cast<unsigned>(Level); }

// The holder of a level as a sentence names it: "the machine" for sockets, else its position.
std::string HolderName(TopologyLevel Level, const TopologyPosition &Holder) {
  if (Level == TopologyLevel::Socket) {
    return "the machine";
  }
  return Holder.Describe(static_cast<TopologyLevel>(IndexOf(Level) - 1));
}

}  // namespace

const char *TopologyLevelName(TopologyLevel Level) { return kPluralNames[IndexOf(Level)]; }

uint32_t TopologyPosition::At(TopologyLevel Level) const {
  switch (Level) {
    case TopologyLevel::Socket: return Socket;
    case TopologyLevel::Die: return Die;
    case TopologyLevel::ComplexDie: return ComplexDie;
    case TopologyLevel::Complex: return Complex;
    case TopologyLevel::Core: return Core;
    case TopologyLevel::Thread: return Thread;
  }
  return 0;
}

void TopologyPosition::Set(TopologyLevel Level, uint32_t Index) {
  switch (Level) {
    case TopologyLevel::Socket: Socket = Index; break;
    case TopologyLevel::Die: Die = Index; break;
    case TopologyLevel::ComplexDie: ComplexDie = Index; break;
    case TopologyLevel::Complex: Complex = Index; break;
    case TopologyLevel::Core: Core = Index; break;
    case TopologyLevel::Thread: Thread = Index; break;
  }
}

TopologyPosition TopologyPosition::ParentOf(TopologyLevel Level) const {
  TopologyPosition Holder;
  for (unsigned Above = 0; Above < IndexOf(Level); ++Above) {
    Holder.Set(static_cast<TopologyLevel>(Above), At(static_cast<TopologyLevel>(Above)));
  }
  return Holder;
}

std::string TopologyPosition::Describe(TopologyLevel Depth) const {
  std::string Text;
  for (unsigned Level = 0; Level <= IndexOf(Depth); ++Level) {
    if (!Text.empty()) {
      Text += ' ';
    }
    Text += kSingularNames[Level];
    Text += ' ';
    Text += std::to_string(At(static_cast<TopologyLevel>(Level)));
  }
  return Text;
}

Topology::Topology(const UniformTopology &Counts)
    : Uniform_{Counts.Sockets,         Counts.DiesPerSocket, Counts.ComplexDiesPerDie, Counts.ComplexesPerComplexDie,
               Counts.CoresPerComplex, Counts.ThreadsPerCore} {}

Topology &Topology::SetDies(uint32_t Socket, uint32_t Count) {
  return SetCount(TopologyLevel::Die, TopologyPosition{.Socket = Socket}, Count);
}

Topology &Topology::SetComplexDies(uint32_t Socket, uint32_t Die, uint32_t Count) {
  return SetCount(TopologyLevel::ComplexDie, TopologyPosition{.Socket = Socket, .Die = Die}, Count);
}

Topology &Topology::SetComplexes(uint32_t Socket, uint32_t Die, uint32_t ComplexDie, uint32_t Count) {
  return SetCount(TopologyLevel::Complex, TopologyPosition{.Socket = Socket, .Die = Die, .ComplexDie = ComplexDie},
                  Count);
}

Topology &Topology::SetCores(uint32_t Socket, uint32_t Die, uint32_t ComplexDie, uint32_t Complex, uint32_t Count) {
  return SetCount(TopologyLevel::Core,
                  TopologyPosition{.Socket = Socket, .Die = Die, .ComplexDie = ComplexDie, .Complex = Complex}, Count);
}

Topology &Topology::SetThreads(uint32_t Socket, uint32_t Die, uint32_t ComplexDie, uint32_t Complex, uint32_t Core,
                               uint32_t Count) {
  return SetCount(
      TopologyLevel::Thread,
      TopologyPosition{.Socket = Socket, .Die = Die, .ComplexDie = ComplexDie, .Complex = Complex, .Core = Core},
      Count);
}

Topology &Topology::SetCount(TopologyLevel Level, const TopologyPosition &Holder, uint32_t Count) {
  if (Level == TopologyLevel::Socket) {
    Uniform_[IndexOf(Level)] = Count;
  } else {
    Overrides_[{Level, Holder.ParentOf(Level)}] = Count;
  }
  return *this;
}

uint32_t Topology::Count(TopologyLevel Level, const TopologyPosition &Holder) const {
  // Most machines are uniform; the fabric services ask this for every step of every walk.
  if (Overrides_.empty()) return Uniform_[IndexOf(Level)];
  auto Found = Overrides_.find({Level, Holder.ParentOf(Level)});
  return Found != Overrides_.end() ? Found->second : Uniform_[IndexOf(Level)];
}

template <typename Visitor>
void Topology::ForEachHolder(TopologyLevel Depth, Visitor &&Visit) const {
  auto Descend = [&](auto &Self, unsigned Level, const TopologyPosition &Holder) -> void {
    const auto ThisLevel = static_cast<TopologyLevel>(Level);
    Visit(ThisLevel, Holder);
    if (Level == IndexOf(Depth)) {
      return;
    }
    const uint32_t Instances = std::min(Count(ThisLevel, Holder), kTopologyLimits[Level]);
    for (uint32_t Index = 0; Index < Instances; ++Index) {
      TopologyPosition Child = Holder;
      Child.Set(ThisLevel, Index);
      Self(Self, Level + 1, Child);
    }
  };
  Descend(Descend, 0, TopologyPosition{});
}

bool Topology::Exists(TopologyLevel Level, const TopologyPosition &Holder) const {
  for (unsigned Above = 0; Above < IndexOf(Level); ++Above) {
    const auto AboveLevel = static_cast<TopologyLevel>(Above);
    if (Holder.At(AboveLevel) >= Count(AboveLevel, Holder.ParentOf(AboveLevel))) {
      return false;
    }
  }
  return true;
}

uint32_t Topology::MaxCount(TopologyLevel Level) const {
  uint32_t Largest = 0;
  ForEachHolder(Level, [&](TopologyLevel Visited, const TopologyPosition &Holder) {
    if (Visited == Level) {
      Largest = std::max(Largest, Count(Level, Holder));
    }
  });
  return Largest;
}

std::vector<std::string> Topology::Problems() const {
  std::vector<std::string> Found;
  ForEachHolder(TopologyLevel::Thread, [&](TopologyLevel Level, const TopologyPosition &Holder) {
    const uint32_t Instances = Count(Level, Holder);
    const uint32_t Limit = kTopologyLimits[IndexOf(Level)];
    if (Instances == 0) {
      Found.push_back(HolderName(Level, Holder) + " has no " + TopologyLevelName(Level) + "; it needs at least 1");
    } else if (Instances > Limit) {
      Found.push_back(HolderName(Level, Holder) + " has " + std::to_string(Instances) + " " + TopologyLevelName(Level) +
                      "; the most is " + std::to_string(Limit));
    }
  });
  // An override for an instance the machine does not have is a mistake in the description, not a
  // harmless extra: it usually means the author miscounted a level above it.
  for (const auto &[Key, Instances] : Overrides_) {
    if (!Exists(Key.first, Key.second)) {
      Found.push_back("the count of " + std::string(TopologyLevelName(Key.first)) + " set for " +
                      HolderName(Key.first, Key.second) + " names a place the machine does not have");
    }
  }
  return Found;
}

void Topology::Validate() const {
  const std::vector<std::string> Found = Problems();
  if (Found.empty()) {
    return;
  }
  std::string Message = "impossible topology: ";
  for (size_t Index = 0; Index < Found.size(); ++Index) {
    Message += (Index == 0 ? "" : "; ") + Found[Index];
  }
  throw TopologyError(Message);
}

std::vector<TopologyPosition> Topology::Walk() const {
  Validate();
  std::vector<TopologyPosition> Positions;
  ForEachHolder(TopologyLevel::Thread, [&](TopologyLevel Level, const TopologyPosition &Holder) {
    if (Level != TopologyLevel::Thread) {
      return;
    }
    for (uint32_t Thread = 0; Thread < Count(Level, Holder); ++Thread) {
      TopologyPosition Position = Holder;
      Position.Thread = Thread;
      Positions.push_back(Position);
    }
  });
  return Positions;
}

}  // namespace sim
