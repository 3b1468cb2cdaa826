// The data-fabric registers: a fixed window of 32-bit registers, and in it the host-bridge map
// that tells which bridge reaches the core complexes' sideband registers.
#include "services/CoreRegisters.h"

#include "arch/DataFabric.h"
#include "arch/PciEcam.h"
#include "arch/PortIo.h"
#include "debug/FatalStop.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kFatalFabricOffsetRange = 0xDE500427;
constexpr UINT32 kFatalFabricOffsetAlign = 0xDE500428;

}  // namespace

UINT32 ReadFabricRegister32(UINT32 Offset) {
  if (Offset >= DataFabric::OffsetLimit) {
    FatalStop(kFatalFabricOffsetRange);
  }
  if (Offset % sizeof(UINT32) != 0) {
    FatalStop(kFatalFabricOffsetAlign);
  }
  return MmioRead32(DataFabric::WindowBase + DataFabric::WindowOffset::Get(Offset));
}

// The first map entry that is enabled for reads and writes and routes to the core complexes'
// sideband component names the bridge.
UINT32 FindSidebandHostBridge() {
  using Base = DataFabric::HostBridgeBase;
  using Limit = DataFabric::HostBridgeLimit;
  for (UINT32 Entry = 0; Entry < Base::Count; Entry++) {
    const UINT32 BaseValue = ReadFabricRegister32(DataFabric::HostBridgeBaseOffset(Entry));
    const UINT32 LimitValue = ReadFabricRegister32(DataFabric::HostBridgeLimitOffset(Entry));
    if (Base::ReadEnable::IsSet(BaseValue) && Base::WriteEnable::IsSet(BaseValue) &&
        Limit::Destination::Get(LimitValue) == Limit::SidebandDestination) {
      return static_cast<UINT32>(
          PciEcam::HostBridgeId::Bus::Set(PciEcam::HostBridgeId::Segment::Set(0, Base::Segment::Get(BaseValue)),
                                          Base::Bus::Get(BaseValue)));
    }
  }
  return kNoSidebandHostBridge;
}

}  // namespace CCX_IMAGE_NAMESPACE
