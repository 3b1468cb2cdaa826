// The chipset registers the driver touches, as plain byte-addressable storage over two small
// ranges. Nothing here has behaviour of its own; what matters is what the driver wrote, in what
// order and at what width, so every write is kept.
#ifndef SIM_DEVICES_CHIPSET_REGISTERS_H_
#define SIM_DEVICES_CHIPSET_REGISTERS_H_

#include <array>
#include <cstdint>
#include <vector>

#include "sim/devices/ByteStore.h"
#include "sim/devices/Device.h"

namespace sim {

struct ChipsetWrite {
  uint64_t Address;
  unsigned Width;
  uint64_t Value;

  bool operator==(const ChipsetWrite &) const = default;
};

class ChipsetRegisters : public Device {
 public:
  ChipsetRegisters();

  std::vector<AddressRange> Ranges() const override;

  // Register contents by address; an access outside both ranges throws std::out_of_range.
  uint64_t Get(uint64_t Address, unsigned Width) const;
  void Set(uint64_t Address, unsigned Width, uint64_t Value);

  std::vector<ChipsetWrite> Writes() const;
  void ClearWrites();

 protected:
  uint64_t OnRead(uint64_t Address, unsigned Width) override;
  void OnWrite(uint64_t Address, unsigned Width, uint64_t Value) override;

 private:
  // Which of the two ranges holds the access, and the access's offset in it.
  static size_t Locate(uint64_t Address, unsigned Width, uint64_t &Offset);

  std::array<ByteStore, 2> Stores_;
  std::vector<ChipsetWrite> Writes_;
};

}  // namespace sim

#endif  // SIM_DEVICES_CHIPSET_REGISTERS_H_
