// The data-fabric register window: function 0 of the fabric's configuration device on bus 0,
// read as 32-bit registers. It holds the map of host bridges that the driver searches for the
// one that reaches the core-complex sideband registers.
#ifndef ARCH_DATA_FABRIC_H_
#define ARCH_DATA_FABRIC_H_

#include "arch/PciEcam.h"

namespace DataFabric {

constexpr uint64_t FabricDevice = 0x18;
constexpr uint64_t FabricFunction = 0;
constexpr uint64_t WindowBase = 0x3FB000C0000ULL;
constexpr uint64_t WindowSize = 0x1000;
// Register offsets below OffsetLimit are accepted; only their low twelve bits select a register,
// so offsets 0x1000 apart reach the same one.
constexpr uint32_t OffsetLimit = 0x2000;
using WindowOffset = RegisterField<11, 0>;
static_assert(WindowOffset::Max + 1 == WindowSize, "the offset field spans the window");
static_assert(WindowBase == PciEcam::AddressOf(PciEcam::Segment0Base, 0, FabricDevice, FabricFunction, 0),
              "the fabric window is the configuration space of the fabric device on bus 0");

// Host-bridge map entry k: a base register at FirstOffset + Stride * k and a limit register four
// bytes above it. An entry is in use when both enable bits of its base register are set.
struct HostBridgeBase {
  static constexpr uint32_t FirstOffset = 0xC80;
  static constexpr uint32_t Stride = 8;
  static constexpr unsigned Count = 16;
  using ReadEnable = RegisterBit<0>;
  using WriteEnable = RegisterBit<1>;
  using Segment = RegisterField<15, 8>;
  using Bus = RegisterField<23, 16>;
};

struct HostBridgeLimit {
  static constexpr uint32_t FirstOffset = 0xC84;
  // The fabric component the bridge's bus range is routed to.
  using Destination = RegisterField<11, 0>;
  // The destination whose host bridge reaches the core-complex sideband registers.
  static constexpr uint32_t SidebandDestination = 0x21;
};

constexpr uint32_t HostBridgeBaseOffset(unsigned Entry) {
  return HostBridgeBase::FirstOffset + HostBridgeBase::Stride * Entry;
}
constexpr uint32_t HostBridgeLimitOffset(unsigned Entry) {
  return HostBridgeLimit::FirstOffset + HostBridgeBase::Stride * Entry;
}

}  // namespace DataFabric

#endif  // ARCH_DATA_FABRIC_H_
