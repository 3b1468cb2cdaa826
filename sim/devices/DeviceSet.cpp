#include "sim/devices/DeviceSet.h"

#include <cstdio>
#include <stdexcept>

namespace sim {

namespace {

std::string UartName(uint64_t Base) {
  char Text[40];
  std::snprintf(Text, sizeof(Text), "UART at 0x%llX", static_cast<unsigned long long>(Base));
  return Text;
}

}  // namespace

DeviceSet::DeviceSet(const DeviceSetConfig &Config) {
  Io_.Attach(PostCodes_);
  Mmio_.Attach(Chipset_);
  for (uint64_t Base : Config.UartBases) {
    Uarts_.push_back(std::make_unique<Uart>(UartName(Base), Base));
    Bus &Target = ::Uart16550::IsMemoryMapped(Base) ? static_cast<Bus &>(Mmio_) : static_cast<Bus &>(Io_);
    Target.Attach(*Uarts_.back());
  }

  std::vector<HostBridge> Bridges;
  for (const HostBridgeRoute &Route : Config.HostBridges) {
    Bridges.push_back(Route.Bridge);
  }
  Pci_ = std::make_unique<PciConfigWindow>(Config.PciConfigBase, Config.PciSegmentCount, Sideband_, Bridges);
  Mmio_.Attach(*Pci_);
  Fabric_ = std::make_unique<DataFabricRegisters>(*Pci_);
  Fabric_->SetHostBridgeMap(Config.HostBridges);

  // The coprocessor's base register answers even when the coprocessor is absent: it then
  // reads 0, which is how the driver learns that there is nothing to lock against.
  Coprocessor_ = std::make_unique<HcuCoprocessor>(Config.Coprocessor);
  HcuCoprocessor &Coprocessor = *Coprocessor_;
  Sideband_.MapRegister(Coprocessor.BaseRegisterAddress(), "HcuMmioBase",
                        [&Coprocessor]() { return Coprocessor.BaseRegisterValue(); }, {});
  if (Config.Coprocessor.Present) {
    Mmio_.Attach(Coprocessor);
  }
}

Uart &DeviceSet::UartAt(uint64_t Base) {
  for (const std::unique_ptr<Uart> &Each : Uarts_) {
    if (Each->Base() == Base) {
      return *Each;
    }
  }
  throw std::out_of_range("no " + UartName(Base));
}

}  // namespace sim
