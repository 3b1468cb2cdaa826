// The standard devices of a simulated platform on its two buses, built from a small description:
// POST-code ports, UARTs, the PCI configuration window with its host bridges' sideband pairs,
// the sideband register space, the data-fabric registers, the security coprocessor and the
// chipset registers. Each device stays reachable for inspection.
#ifndef SIM_DEVICES_DEVICE_SET_H_
#define SIM_DEVICES_DEVICE_SET_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "arch/DataFabric.h"
#include "arch/PciEcam.h"
#include "arch/Uart16550.h"
#include "sim/devices/ChipsetRegisters.h"
#include "sim/devices/DataFabricRegisters.h"
#include "sim/devices/HcuCoprocessor.h"
#include "sim/devices/IoBus.h"
#include "sim/devices/MmioBus.h"
#include "sim/devices/PciConfigWindow.h"
#include "sim/devices/PostCodePorts.h"
#include "sim/devices/SidebandSpace.h"
#include "sim/devices/Uart.h"

namespace sim {

struct DeviceSetConfig {
  // A base of 0xFFFF or below is an I/O-port UART, above that a memory-mapped one.
  std::vector<uint64_t> UartBases = {::Uart16550::Com1Base, ::Uart16550::Com2Base};
  HcuConfig Coprocessor;
  uint64_t PciConfigBase = PciEcam::Segment0Base;
  unsigned PciSegmentCount = 1;
  // The host bridges, in the order of the fabric's host-bridge map. Each gets the sideband
  // index/data pair on its device 0, function 0.
  std::vector<HostBridgeRoute> HostBridges = {{{0, 0}, ::DataFabric::HostBridgeLimit::SidebandDestination}};
};

class DeviceSet {
 public:
  // Throws std::invalid_argument when the description is inconsistent, including any two
  // devices that would claim the same addresses.
  explicit DeviceSet(const DeviceSetConfig &Config = {});
  DeviceSet(const DeviceSet &) = delete;
  DeviceSet &operator=(const DeviceSet &) = delete;

  IoBus &Io() { return Io_; }
  MmioBus &Mmio() { return Mmio_; }

  PostCodePorts &PostCodes() { return PostCodes_; }
  // The UART at Base; throws std::out_of_range when there is none.
  Uart &UartAt(uint64_t Base);
  PciConfigWindow &Pci() { return *Pci_; }
  SidebandSpace &Sideband() { return Sideband_; }
  DataFabricRegisters &Fabric() { return *Fabric_; }
  HcuCoprocessor &Coprocessor() { return *Coprocessor_; }
  ChipsetRegisters &ChipsetBlock() { return Chipset_; }

 private:
  // The buses are declared first so that they are destroyed last: they point to the devices,
  // and no access runs while the set is being destroyed.
  IoBus Io_;
  MmioBus Mmio_;
  SidebandSpace Sideband_;
  PostCodePorts PostCodes_;
  ChipsetRegisters Chipset_;
  std::vector<std::unique_ptr<Uart>> Uarts_;
  std::unique_ptr<PciConfigWindow> Pci_;
  std::unique_ptr<DataFabricRegisters> Fabric_;
  std::unique_ptr<HcuCoprocessor> Coprocessor_;
};

}  // namespace sim

#endif  // SIM_DEVICES_DEVICE_SET_H_
