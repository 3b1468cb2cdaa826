#include "fuzz/WholeBootInput.h"

#include <array>
#include <map>
#include <string>
#include <vector>

#include "fuzz/FuzzPlatform.h"
#include "interfaces/PlatformConfig.h"
#include "sim/machine/PcdItems.h"

namespace fuzz {
namespace {

struct ItemWidth {
  uint64_t Token;
  unsigned Width;
};

// Every configuration item but the three that hold addresses another driver stored: those are
// pointers the driver must trust, not values a platform chooses. Any value of an item's width is
// fuzzed, also those a machine file may not give: the driver must survive them.
std::vector<ItemWidth> FuzzedItems() {
  std::vector<ItemWidth> Items;
  for (const sim::PcdItemDefinition &Item : sim::PcdItems()) {
    if (Item.Token != PcdQorvexS3LibPrivateDataAddress && Item.Token != PcdQorvexS3LibTableAddress) {
      Items.push_back({Item.Token, Item.Width});
    }
  }
  return Items;
}

uint64_t ValueOfWidth(FuzzedDataProvider &Input, unsigned Width) {
  const uint64_t Value = Input.ConsumeIntegral<uint64_t>();
  return Width >= 8 ? Value : Value & ((uint64_t{1} << (8 * Width)) - 1);
}

void ChooseTopology(FuzzedDataProvider &Input, sim::Machine &Machine) {
  sim::UniformTopology Counts;
  Counts.Sockets = Input.ConsumeIntegralInRange<uint32_t>(1, 4);
  Counts.DiesPerSocket = Input.ConsumeIntegralInRange<uint32_t>(1, 4);
  Counts.ComplexDiesPerDie = Input.ConsumeIntegralInRange<uint32_t>(1, 12);
  Counts.ComplexesPerComplexDie = Input.ConsumeIntegralInRange<uint32_t>(1, 2);
  Counts.CoresPerComplex = Input.ConsumeIntegralInRange<uint32_t>(1, 8);
  Counts.ThreadsPerCore = Input.ConsumeIntegralInRange<uint32_t>(1, 2);
  sim::Topology Shape(Counts);
  // Uneven counts: a few instances hold fewer (or more) of the level below than the rest.
  const unsigned Overrides = Input.ConsumeIntegralInRange<unsigned>(0, 4);
  for (unsigned Count = 0; Count < Overrides; Count++) {
    const auto Level = static_cast<sim::TopologyLevel>(Input.ConsumeIntegralInRange<unsigned>(1, 5));
    sim::TopologyPosition Holder;
    Holder.Socket = Input.ConsumeIntegralInRange<uint32_t>(0, Counts.Sockets - 1);
    Holder.Die = Input.ConsumeIntegralInRange<uint32_t>(0, Counts.DiesPerSocket - 1);
    Holder.ComplexDie = Input.ConsumeIntegralInRange<uint32_t>(0, Counts.ComplexDiesPerDie - 1);
    Holder.Complex = Input.ConsumeIntegralInRange<uint32_t>(0, Counts.ComplexesPerComplexDie - 1);
    Holder.Core = Input.ConsumeIntegralInRange<uint32_t>(0, Counts.CoresPerComplex - 1);
    Shape.SetCount(Level, Holder, Input.ConsumeIntegralInRange<uint32_t>(1, sim::TopologyLimit(Level)));
  }
  // A machine too large to boot quickly keeps its shape but one core a complex and one thread.
  if (!Shape.Problems().empty() || Shape.Walk().size() > kMostFuzzedThreads) {
    Counts.CoresPerComplex = 1;
    Counts.ThreadsPerCore = 1;
    Shape = sim::Topology(Counts);
    if (Shape.Walk().size() > kMostFuzzedThreads) Shape = sim::Topology(sim::UniformTopology{1, 1, 2, 1, 4, 2});
  }
  std::vector<uint64_t> SocketValues(Counts.Sockets);
  for (uint64_t &Value : SocketValues) Value = Input.ConsumeIntegral<uint64_t>();
  Reshape(Machine, Shape, [&SocketValues](uint32_t Socket) { return SocketValues[Socket]; });
}

void ChooseProcessorState(FuzzedDataProvider &Input, sim::Machine &Machine) {
  static const std::array<std::pair<uint32_t, uint32_t>, 13> kLeaves = {{{0x00000001, 0},
                                                                         {0x80000000, 0},
                                                                         {0x80000001, 0},
                                                                         {0x80000008, 0},
                                                                         {0x8000001F, 0},
                                                                         {0x80000005, 0},
                                                                         {0x80000006, 0},
                                                                         {0x80000019, 0},
                                                                         {0x8000001D, 0},
                                                                         {0x8000001D, 1},
                                                                         {0x8000001D, 2},
                                                                         {0x8000001D, 3},
                                                                         {0x8000001D, 4}}};
  const unsigned Leaves = Input.ConsumeIntegralInRange<unsigned>(0, 4);
  for (unsigned Count = 0; Count < Leaves; Count++) {
    const auto [Leaf, SubLeaf] = Input.PickValueInArray(kLeaves);
    sim::CpuidValue Value;
    Value.Eax = Input.ConsumeIntegral<uint32_t>();
    Value.Ebx = Input.ConsumeIntegral<uint32_t>();
    Value.Ecx = Input.ConsumeIntegral<uint32_t>();
    Value.Edx = Input.ConsumeIntegral<uint32_t>();
    Machine.Processors.Cpuid.Set(Leaf, SubLeaf, Value);
  }
  // The MSRs the machine already sets at reset get other values.
  std::vector<uint32_t> Msrs;
  for (const auto &[Msr, Value] : Machine.Processors.MsrResetValues) Msrs.push_back(Msr);
  const unsigned Changes = Input.ConsumeIntegralInRange<unsigned>(0, 4);
  for (unsigned Count = 0; Count < Changes && !Msrs.empty(); Count++) {
    const uint32_t Msr = Msrs[Input.ConsumeIntegralInRange<size_t>(0, Msrs.size() - 1)];
    Machine.Processors.MsrResetValues[Msr] = Input.ConsumeIntegral<uint64_t>();
  }
}

void ChooseConfiguration(FuzzedDataProvider &Input, sim::Machine &Machine) {
  static const std::vector<ItemWidth> kItems = FuzzedItems();
  const unsigned Items = Input.ConsumeIntegralInRange<unsigned>(0, 6);
  for (unsigned Count = 0; Count < Items; Count++) {
    const ItemWidth Item = kItems[Input.ConsumeIntegralInRange<size_t>(0, kItems.size() - 1)];
    Machine.Pcd[Item.Token] = ValueOfWidth(Input, Item.Width);
  }
  static const uint16_t kOptionIds[] = {0xD017, 0xD018, 0xD019, 0xD01A, 0x0000, 0xFFFF};
  static const unsigned kSizes[] = {1, 2, 4, 8};
  const unsigned Options = Input.ConsumeIntegralInRange<unsigned>(0, 6);
  if (Options != 0) Machine.Options.Values.clear();
  for (unsigned Count = 0; Count < Options; Count++) {
    sim::OptionValue Value;
    Value.Id = Input.ConsumeBool() ? Input.PickValueInArray(kOptionIds) : Input.ConsumeIntegral<uint16_t>();
    Value.Size = Input.PickValueInArray(kSizes);
    Value.Value = ValueOfWidth(Input, Value.Size);
    Machine.Options.Values.push_back(Value);
  }
  if (Input.ConsumeIntegralInRange<unsigned>(0, 7) == 0) {
    Machine.Options.Overrun = Input.ConsumeIntegralInRange<uint32_t>(0, 200);
  }
}

void ChooseArrivals(FuzzedDataProvider &Input, sim::Machine &Machine) {
  for (const std::string &Name : sim::KnownSiblings()) {
    sim::SiblingArrival Arrival;
    switch (Input.ConsumeIntegralInRange<unsigned>(0, 7)) {
      case 0:
        Arrival.When = sim::SiblingArrival::Absent;
        break;
      case 1:
        Arrival.When = sim::SiblingArrival::After;
        Arrival.AfterWhat = sim::BootPhases()[Input.ConsumeIntegralInRange<size_t>(0, sim::BootPhases().size() - 1)];
        break;
      default:
        // Most siblings keep what the default machine gives them, so most boots get far.
        continue;
    }
    Machine.Siblings[Name] = Arrival;
  }
}

}  // namespace

sim::Machine MachineFromInput(FuzzedDataProvider &Input) {
  sim::Machine Machine = DefaultMachineToReshape();
  Machine.Name = "fuzzed";
  Machine.Coprocessor.Contends = Input.ConsumeBool();
  ChooseTopology(Input, Machine);
  ChooseProcessorState(Input, Machine);
  ChooseConfiguration(Input, Machine);
  ChooseArrivals(Input, Machine);
  return Machine;
}

}  // namespace fuzz
