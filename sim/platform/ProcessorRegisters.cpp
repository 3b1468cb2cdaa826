#include "sim/platform/ProcessorRegisters.h"

#include <algorithm>
#include <optional>

#include "arch/CoreComplexRegisters.h"
#include "arch/CoreTopologyRegister.h"
#include "arch/Cpuid.h"
#include "arch/DataFabric.h"
#include "arch/Msr.h"
#include "arch/PciEcam.h"
#include "sim/machine/AddressMap.h"

namespace sim {
namespace {

constexpr uint64_t kBusesPerSegment = PciEcam::Offset::Bus::Max + 1;
// The fabric component IDs of the sockets' bridges carry the socket in these bits; socket 0's
// bridge routes to the core complexes that the BSP numbers.
constexpr unsigned kDestinationSocketShift = 8;
// Two slots of core topology registers per complex die, one per complex.
constexpr uint32_t kSlotsPerComplexDie = 2;

// Parts that build their complex dies in pairs count map groups and topology-register slots per
// complex; other parts count map groups per complex die.
bool PairedComplexDies(ProcessorSet &Processors) {
  const CpuidValue Signature = Processors.Bsp().Cpuid(CpuidLeaf::ExtendedSignature, 0);
  return (Signature.Eax & CpuidLeaf::ExtendedSignatureFields::EaxFamilyModelMask) ==
         Sideband::PairedComplexDieSignature;
}

// Calls Visit(complex die, complex, core) for every core of the BSP's die: the core complexes
// whose registers the BSP's bridge reaches.
template <typename Visitor>
void ForEachLocalCore(const Topology &Shape, Visitor &&Visit) {
  TopologyPosition Holder;
  for (uint32_t ComplexDie = 0; ComplexDie < Shape.Count(TopologyLevel::ComplexDie, Holder); ComplexDie++) {
    Holder.ComplexDie = ComplexDie;
    for (uint32_t Complex = 0; Complex < Shape.Count(TopologyLevel::Complex, Holder); Complex++) {
      Holder.Complex = Complex;
      for (uint32_t Core = 0; Core < Shape.Count(TopologyLevel::Core, Holder); Core++) Visit(ComplexDie, Complex, Core);
    }
    Holder.Complex = 0;
  }
}

}  // namespace

void ConfigureProcessorDevices(const Machine &Description, DeviceSetConfig &Config) {
  // A description read from a file always places the window; one built in code may leave it where
  // the device set puts it.
  uint32_t Segments = 1;
  if (const std::optional<PciConfigurationWindow> Window = ConfigurationWindowOf(Description)) {
    Config.PciConfigBase = Window->Base;
    Segments = Window->Segments;
    Config.PciSegmentCount = Segments;
  }
  // One bridge per socket, spread over the segments first and then over the buses of a segment.
  const uint32_t Sockets = Description.Shape.Count(TopologyLevel::Socket);
  const uint32_t SocketsPerSegment = (Sockets + Segments - 1) / Segments;
  const uint32_t BusStride = static_cast<uint32_t>(kBusesPerSegment / SocketsPerSegment);
  Config.HostBridges.clear();
  for (uint32_t Socket = 0; Socket < Sockets; Socket++) {
    HostBridgeRoute Route;
    Route.Bridge.Segment = static_cast<uint16_t>(Socket % Segments);
    Route.Bridge.Bus = static_cast<uint8_t>(Socket / Segments * BusStride);
    Route.Destination = DataFabric::HostBridgeLimit::SidebandDestination | Socket << kDestinationSocketShift;
    Config.HostBridges.push_back(Route);
  }
}

std::vector<uint32_t> EnabledCoreMapOf(const Machine &Description, ProcessorSet &Processors) {
  using Map = Sideband::EnabledCoreMap;
  std::vector<uint32_t> Words(Map::RegisterCount, 0);
  const bool Paired = PairedComplexDies(Processors);
  ForEachLocalCore(Description.Shape, [&](uint32_t ComplexDie, uint32_t Complex, uint32_t Core) {
    // A part that is not paired lists the cores of each complex die's first complex.
    if (!Paired && Complex != 0) return;
    const uint32_t Group = Paired ? kSlotsPerComplexDie * ComplexDie + Complex : ComplexDie;
    const uint32_t Bit = Group * Map::CoresPerGroup + Core;
    if (Bit < Map::RegisterCount * Map::BitsPerRegister) {
      Words[Bit / Map::BitsPerRegister] |= 1U << (Bit % Map::BitsPerRegister);
    }
  });
  return Words;
}

void PresetProcessorRegisters(const Machine &Description, ProcessorSet &Processors, DeviceSet &Devices) {
  SidebandSpace &Space = Devices.Sideband();
  const std::vector<uint32_t> Map = EnabledCoreMapOf(Description, Processors);
  for (uint32_t Index = 0; Index < Map.size(); Index++) {
    Space.Set(Sideband::CoreComplexBlock::BaseAddress + Sideband::EnabledCoreMap::Offset(Index), Map[Index]);
  }
  // Every core of every complex has its copy of the core topology register, all alike.
  const uint32_t TopologyRegister = Processors.CoreTopologyRegister();
  ForEachLocalCore(Description.Shape, [&](uint32_t ComplexDie, uint32_t Complex, uint32_t Core) {
    Space.Set(Sideband::CoreTopology::Address(kSlotsPerComplexDie * ComplexDie + Complex, Core), TopologyRegister);
  });
  // A paired part has a complex-fold register per complex die; it says whether the part folds.
  if (PairedComplexDies(Processors)) {
    const uint32_t Fold = static_cast<uint32_t>(
        Sideband::ComplexFold::Folded::Set(0, Description.Processors.FoldedComplexes ? 1 : 0));
    for (uint32_t ComplexDie = 0; ComplexDie < Description.Shape.MaxCount(TopologyLevel::ComplexDie); ComplexDie++) {
      Space.Set(Sideband::ComplexFold::Address(ComplexDie), Fold);
    }
  }
}

}  // namespace sim
