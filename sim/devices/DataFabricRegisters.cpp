#include "sim/devices/DataFabricRegisters.h"

#include <stdexcept>
#include <string>

#include "arch/DataFabric.h"

namespace sim {

namespace {

const PciFunction FabricFunction{0, 0, DataFabric::FabricDevice, DataFabric::FabricFunction};

}  // namespace

void DataFabricRegisters::CheckOffset(uint32_t Offset) {
  if (Offset >= DataFabric::WindowSize || Offset % 4 != 0) {
    throw std::out_of_range("data-fabric register offset " + std::to_string(Offset) +
                            " is not a 32-bit register of the window");
  }
}

uint32_t DataFabricRegisters::Get(uint32_t Offset) const {
  CheckOffset(Offset);
  return static_cast<uint32_t>(Window_.Get(FabricFunction, Offset, 4));
}

void DataFabricRegisters::Set(uint32_t Offset, uint32_t Value) {
  CheckOffset(Offset);
  Window_.Set(FabricFunction, Offset, 4, Value);
}

void DataFabricRegisters::SetHostBridgeMap(const std::vector<HostBridgeRoute> &Routes) {
  using Base = DataFabric::HostBridgeBase;
  using Limit = DataFabric::HostBridgeLimit;
  if (Routes.size() > Base::Count) {
    throw std::invalid_argument("the fabric's host-bridge map holds " + std::to_string(Base::Count) + " entries, not " +
                                std::to_string(Routes.size()));
  }
  for (const HostBridgeRoute &Route : Routes) {
    if (Route.Bridge.Segment > Base::Segment::Max || Route.Destination > Limit::Destination::Max) {
      throw std::invalid_argument("host-bridge route on segment " + std::to_string(Route.Bridge.Segment) +
                                  " to destination " + std::to_string(Route.Destination) +
                                  " does not fit the fabric's map");
    }
  }
  for (unsigned Entry = 0; Entry < Base::Count; ++Entry) {
    uint64_t BaseValue = 0;
    uint64_t LimitValue = 0;
    if (Entry < Routes.size()) {
      const HostBridgeRoute &Route = Routes[Entry];
      BaseValue = Base::ReadEnable::Set(BaseValue, 1);
      BaseValue = Base::WriteEnable::Set(BaseValue, 1);
      BaseValue = Base::Segment::Set(BaseValue, Route.Bridge.Segment);
      BaseValue = Base::Bus::Set(BaseValue, Route.Bridge.Bus);
      LimitValue = Limit::Destination::Set(LimitValue, Route.Destination);
    }
    Set(DataFabric::HostBridgeBaseOffset(Entry), static_cast<uint32_t>(BaseValue));
    Set(DataFabric::HostBridgeLimitOffset(Entry), static_cast<uint32_t>(LimitValue));
  }
}

}  // namespace sim
