// The I/O-port bus: 16-bit port numbers, accesses of 1, 2 or 4 bytes.
#ifndef SIM_DEVICES_IO_BUS_H_
#define SIM_DEVICES_IO_BUS_H_

#include "sim/devices/Bus.h"

namespace sim {

class IoBus : public Bus {
 public:
  IoBus();

  uint32_t ReadPort(uint16_t Port, unsigned Width) { return static_cast<uint32_t>(Read(Port, Width)); }
  void WritePort(uint16_t Port, unsigned Width, uint32_t Value) { Write(Port, Width, Value); }
};

}  // namespace sim

#endif  // SIM_DEVICES_IO_BUS_H_
