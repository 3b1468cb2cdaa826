#include "sim/cpu/ApicId.h"

#include <bit>
#include <stdexcept>
#include <string>

#include "arch/CoreTopologyRegister.h"

namespace sim {
namespace {

using Register = Sideband::CoreTopology;

// With the padding flag set, the complex field never starts below this bit, so that complexes
// keep their place whether their cores are fully populated or not.
constexpr uint32_t kPaddedComplexShift = 4;

void RequireFits(const char *Name, uint64_t Value, uint64_t Max) {
  if (Value > Max) {
    throw std::invalid_argument(std::string(Name) + " " + std::to_string(Value) +
                                " does not fit the core topology register (at most " + std::to_string(Max) + ")");
  }
}

void RequireWithin(const TopologyPosition &Position, const char *Name, uint32_t Index, uint32_t Max) {
  if (Index > Max) {
    throw std::out_of_range("no APIC ID for " + Position.Describe() + ": " + Name + " " + std::to_string(Index) +
                            " lies above the maximum " + std::to_string(Max));
  }
}

}  // namespace

uint32_t SignificantBits(uint32_t Value) { return static_cast<uint32_t>(std::bit_width(Value)); }

ApicIdLayout LayoutOf(const ApicIdMaxima &Maxima) {
  RequireFits("socket maximum", Maxima.SocketMax, TopologyLimit(TopologyLevel::Socket) - 1);
  RequireFits("complex-die maximum", Maxima.ComplexDieMax, TopologyLimit(TopologyLevel::ComplexDie) - 1);
  RequireFits("complex maximum", Maxima.ComplexMax, TopologyLimit(TopologyLevel::Complex) - 1);
  RequireFits("core maximum", Maxima.CoreMax, TopologyLimit(TopologyLevel::Core) - 1);
  if (Maxima.ThreadsPerCore < 1 || Maxima.ThreadsPerCore > TopologyLimit(TopologyLevel::Thread)) {
    throw std::invalid_argument("threads per core " + std::to_string(Maxima.ThreadsPerCore) + " is outside 1 to " +
                                std::to_string(TopologyLimit(TopologyLevel::Thread)));
  }
  ApicIdLayout Layout;
  // The thread field is as wide as the largest thread index needs.
  Layout.CoreShift = SignificantBits(Maxima.ThreadsPerCore - 1);
  Layout.ComplexShift = Layout.CoreShift + SignificantBits(Maxima.CoreMax);
  if (Maxima.CoreFieldPadding && Layout.ComplexShift < kPaddedComplexShift) {
    Layout.ComplexShift = kPaddedComplexShift;
  }
  Layout.ComplexDieShift = Layout.ComplexShift + SignificantBits(Maxima.ComplexMax);
  Layout.SocketShift = Layout.ComplexDieShift + SignificantBits(Maxima.ComplexDieMax);
  return Layout;
}

uint32_t ApicIdOf(const ApicIdMaxima &Maxima, const TopologyPosition &Position) {
  const ApicIdLayout Layout = LayoutOf(Maxima);
  RequireWithin(Position, "socket", Position.Socket, Maxima.SocketMax);
  RequireWithin(Position, "complex die", Position.ComplexDie, Maxima.ComplexDieMax);
  RequireWithin(Position, "complex", Position.Complex, Maxima.ComplexMax);
  RequireWithin(Position, "core", Position.Core, Maxima.CoreMax);
  RequireWithin(Position, "thread", Position.Thread, Maxima.ThreadsPerCore - 1);
  return Position.Socket << Layout.SocketShift | Position.ComplexDie << Layout.ComplexDieShift |
         Position.Complex << Layout.ComplexShift | Position.Core << Layout.CoreShift | Position.Thread;
}

ApicIdMaxima MaximaOf(const Topology &Machine, bool CoreFieldPadding, bool FoldedComplexes) {
  Machine.Validate();
  ApicIdMaxima Maxima;
  Maxima.SocketMax = Machine.MaxCount(TopologyLevel::Socket) - 1;
  Maxima.ComplexDieMax = Machine.MaxCount(TopologyLevel::ComplexDie) - 1;
  Maxima.ComplexMax = Machine.MaxCount(TopologyLevel::Complex) - 1;
  if (FoldedComplexes) {
    Maxima.ComplexDieMax = 2 * Machine.MaxCount(TopologyLevel::ComplexDie) - 1;
    Maxima.ComplexMax = 0;
  }
  Maxima.CoreMax = Machine.MaxCount(TopologyLevel::Core) - 1;
  Maxima.CoreFieldPadding = CoreFieldPadding;
  Maxima.ThreadsPerCore = Machine.MaxCount(TopologyLevel::Thread);
  return Maxima;
}

TopologyPosition FoldedPosition(const TopologyPosition &Position, uint32_t ComplexDies) {
  TopologyPosition Folded = Position;
  if (Position.Complex == 1) {
    Folded.Complex = 0;
    Folded.ComplexDie = Position.ComplexDie + ComplexDies;
  }
  return Folded;
}

uint32_t CoreTopologyRegisterValue(const ApicIdMaxima &Maxima) {
  LayoutOf(Maxima);
  uint64_t Value = 0;
  Value = Register::SocketMax::Set(Value, Maxima.SocketMax);
  Value = Register::ComplexDieMax::Set(Value, Maxima.ComplexDieMax);
  Value = Register::ComplexMax::Set(Value, Maxima.ComplexMax);
  Value = Register::CoreMax::Set(Value, Maxima.CoreMax);
  Value = Register::CoreFieldPadding::Set(Value, Maxima.CoreFieldPadding ? 1 : 0);
  return static_cast<uint32_t>(Value);
}

uint32_t CoreTopologyRegisterFor(const Topology &Machine, bool CoreFieldPadding) {
  return CoreTopologyRegisterValue(MaximaOf(Machine, CoreFieldPadding));
}

ApicIdMaxima MaximaFromRegister(uint32_t Value, uint32_t ThreadsPerCore) {
  ApicIdMaxima Maxima;
  Maxima.SocketMax = static_cast<uint32_t>(Register::SocketMax::Get(Value));
  Maxima.ComplexDieMax = static_cast<uint32_t>(Register::ComplexDieMax::Get(Value));
  Maxima.ComplexMax = static_cast<uint32_t>(Register::ComplexMax::Get(Value));
  Maxima.CoreMax = static_cast<uint32_t>(Register::CoreMax::Get(Value));
  Maxima.CoreFieldPadding = Register::CoreFieldPadding::IsSet(Value);
  Maxima.ThreadsPerCore = ThreadsPerCore;
  return Maxima;
}

}  // namespace sim
