// The memory bus as devices see it: 64-bit byte addresses, accesses of 1, 2, 4 or 8 bytes. An
// address no device claimed may still be ordinary memory: the simulator plugs its DRAM in as a
// fallback that is asked before an access is counted as unclaimed.
#ifndef SIM_DEVICES_MMIO_BUS_H_
#define SIM_DEVICES_MMIO_BUS_H_

#include <functional>

#include "sim/devices/Bus.h"

namespace sim {

class MmioBus : public Bus {
 public:
  // Returns true when Address is ordinary memory, after reading into or writing from Value.
  using MemoryFallback =
      std::function<bool(AccessKind Kind, uint64_t Address, unsigned Width, uint64_t &Value)>;

  MmioBus();

  // Replaces the fallback; an empty function removes it. Set it before processors run.
  void SetMemoryFallback(MemoryFallback Fallback);

 protected:
  bool ServeUnclaimed(AccessKind Kind, uint64_t Address, unsigned Width, uint64_t &Value) override;

 private:
  MemoryFallback Fallback_;
};

}  // namespace sim

#endif  // SIM_DEVICES_MMIO_BUS_H_
