// The POST-code capture card: ports 0x80 and 0xE0. Every write to either is kept in one ordered
// trace with its port and width, because a fatal stop is told by the order of writes across the
// two ports. A read returns what was last written to the port.
#ifndef SIM_DEVICES_POST_CODE_PORTS_H_
#define SIM_DEVICES_POST_CODE_PORTS_H_

#include <cstdint>
#include <vector>

#include "sim/devices/Device.h"

namespace sim {

struct PostCodeWrite {
  uint16_t Port;
  unsigned Width;
  uint32_t Value;

  bool operator==(const PostCodeWrite &) const = default;
};

class PostCodePorts : public Device {
 public:
  // Each port answers as a 32-bit register: its own number and the three ports above it.
  static constexpr uint64_t PortSpan = 4;

  PostCodePorts();

  std::vector<AddressRange> Ranges() const override;

  std::vector<PostCodeWrite> Writes() const;
  // What a read of Port with the given width returns now; throws std::out_of_range for a port
  // that is not one of these.
  uint32_t Latched(uint16_t Port, unsigned Width = 4) const;
  void Clear();

 protected:
  uint64_t OnRead(uint64_t Address, unsigned Width) override;
  void OnWrite(uint64_t Address, unsigned Width, uint64_t Value) override;

 private:
  // The latch of the port group that holds Port; Port's byte position in it is Port - group.
  uint32_t &LatchOf(uint64_t Port) { return IsDisplayPort(Port) ? DisplayLatch_ : FatalLatch_; }
  const uint32_t &LatchOf(uint64_t Port) const { return IsDisplayPort(Port) ? DisplayLatch_ : FatalLatch_; }
  static bool IsDisplayPort(uint64_t Port);
  static unsigned PositionOf(uint64_t Port);
  uint32_t ReadLatch(uint64_t Port, unsigned Width) const;

  std::vector<PostCodeWrite> Writes_;
  uint32_t DisplayLatch_ = 0;
  uint32_t FatalLatch_ = 0;
};

}  // namespace sim

#endif  // SIM_DEVICES_POST_CODE_PORTS_H_
