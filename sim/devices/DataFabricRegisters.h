// The data-fabric register window. It is the configuration space of the fabric device on bus 0,
// so it lives inside the PCI configuration window; this class only names what the machine sets
// there, chiefly the host-bridge map that the driver searches for its sideband bridge.
#ifndef SIM_DEVICES_DATA_FABRIC_REGISTERS_H_
#define SIM_DEVICES_DATA_FABRIC_REGISTERS_H_

#include <cstdint>
#include <vector>

#include "sim/devices/PciConfigWindow.h"

namespace sim {

// One entry of the host-bridge map: the bridge and the fabric component its buses route to.
struct HostBridgeRoute {
  HostBridge Bridge;
  uint32_t Destination = 0;
};

class DataFabricRegisters {
 public:
  explicit DataFabricRegisters(PciConfigWindow &Window) : Window_(Window) {}

  // Offsets are those of the window (below 0x1000, multiples of 4); anything else throws
  // std::out_of_range.
  uint32_t Get(uint32_t Offset) const;
  void Set(uint32_t Offset, uint32_t Value);

  // Fills map entries 0, 1, ... with the routes in order, both enable bits set, and clears the
  // entries after them. Throws std::invalid_argument for more routes than the map holds, or a
  // segment or destination wider than its field.
  void SetHostBridgeMap(const std::vector<HostBridgeRoute> &Routes);

 private:
  static void CheckOffset(uint32_t Offset);

  PciConfigWindow &Window_;
};

}  // namespace sim

#endif  // SIM_DEVICES_DATA_FABRIC_REGISTERS_H_
