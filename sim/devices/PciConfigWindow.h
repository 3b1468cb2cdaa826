// Memory-mapped PCI configuration space for one or more segments, 256 MB each. Every function
// has 4 KB of plain registers, zero until written or set; device 0, function 0 of each host-bridge
// bus also carries the sideband index/data pair into the processor's sideband register space.
#ifndef SIM_DEVICES_PCI_CONFIG_WINDOW_H_
#define SIM_DEVICES_PCI_CONFIG_WINDOW_H_

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "sim/devices/ByteStore.h"
#include "sim/devices/Device.h"
#include "sim/devices/RegisterBank.h"
#include "sim/devices/SidebandSpace.h"

namespace sim {

struct PciFunction {
  uint16_t Segment = 0;
  uint8_t Bus = 0;
  uint8_t Device = 0;
  uint8_t Function = 0;

  auto operator<=>(const PciFunction &) const = default;
};

class PciConfigWindow : public Device {
 public:
  // Throws std::invalid_argument for no segments, a base not aligned to a segment window, a
  // device or function number out of range, or a host bridge on a segment the window lacks.
  PciConfigWindow(uint64_t Segment0Base, unsigned SegmentCount, SidebandSpace &Sideband,
                  const std::vector<HostBridge> &HostBridges);
  ~PciConfigWindow() override;

  std::vector<AddressRange> Ranges() const override;
  uint64_t SegmentBase(uint16_t Segment) const;
  unsigned SegmentCount() const { return SegmentCount_; }
  // The byte address of a function's register; throws std::out_of_range for a segment the
  // window lacks or a register beyond the function's 4 KB.
  uint64_t AddressOf(const PciFunction &Where, uint32_t Register) const;

  // Plain register contents, bypassing the behaviour of the sideband pair.
  uint64_t Get(const PciFunction &Where, uint32_t Register, unsigned Width) const;
  void Set(const PciFunction &Where, uint32_t Register, unsigned Width, uint64_t Value);

  // The index register of a host bridge's sideband pair; throws std::out_of_range for a bus
  // that is not a host bridge.
  uint32_t SidebandIndex(const HostBridge &Bridge) const;

 protected:
  uint64_t OnRead(uint64_t Address, unsigned Width) override;
  void OnWrite(uint64_t Address, unsigned Width, uint64_t Value) override;

 private:
  struct FunctionSpace;

  // Splits an access at function boundaries and calls Each(function, register, width, shift)
  // for every piece, shift being the piece's byte position in the access.
  template <typename Visit>
  void ForEachPiece(uint64_t Address, unsigned Width, Visit Each);
  PciFunction Decode(uint64_t Offset, uint32_t &Register) const;
  FunctionSpace *Find(const PciFunction &Where) const;
  FunctionSpace &Materialize(const PciFunction &Where);
  void CheckFunction(const PciFunction &Where) const;

  uint64_t Base_;
  unsigned SegmentCount_;
  SidebandSpace &Sideband_;
  std::map<PciFunction, std::unique_ptr<FunctionSpace>> Functions_;
};

}  // namespace sim

#endif  // SIM_DEVICES_PCI_CONFIG_WINDOW_H_
