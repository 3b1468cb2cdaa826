#include "sim/devices/PostCodePorts.h"

#include <stdexcept>
#include <string>

#include "arch/PostCode.h"

namespace sim {

PostCodePorts::PostCodePorts() : Device("POST-code ports") {}

std::vector<AddressRange> PostCodePorts::Ranges() const {
  return {{PostCode::Port, PortSpan}, {PostCode::FatalStopPort, PortSpan}};
}

bool PostCodePorts::IsDisplayPort(uint64_t Port) { return Port - PostCode::Port < PortSpan; }

unsigned PostCodePorts::PositionOf(uint64_t Port) {
  return static_cast<unsigned>(Port - (IsDisplayPort(Port) ? PostCode::Port : PostCode::FatalStopPort));
}

uint32_t PostCodePorts::ReadLatch(uint64_t Port, unsigned Width) const {
  return static_cast<uint32_t>((LatchOf(Port) >> (8 * PositionOf(Port))) & AllOnes(Width));
}

uint64_t PostCodePorts::OnRead(uint64_t Address, unsigned Width) { return ReadLatch(Address, Width); }

void PostCodePorts::OnWrite(uint64_t Address, unsigned Width, uint64_t Value) {
  Writes_.push_back({static_cast<uint16_t>(Address), Width, static_cast<uint32_t>(Value)});
  unsigned Position = PositionOf(Address);
  uint32_t &Latch = LatchOf(Address);
  // A write to the port itself replaces what the display shows; a write to a port above it
  // changes only the bytes it covers.
  if (Position == 0) {
    Latch = static_cast<uint32_t>(Value);
  } else {
    uint32_t Mask = static_cast<uint32_t>(AllOnes(Width) << (8 * Position));
    Latch = (Latch & ~Mask) | (static_cast<uint32_t>(Value << (8 * Position)) & Mask);
  }
}

std::vector<PostCodeWrite> PostCodePorts::Writes() const {
  std::lock_guard<std::mutex> Guard(Lock());
  return Writes_;
}

uint32_t PostCodePorts::Latched(uint16_t Port, unsigned Width) const {
  bool Known = false;
  for (const AddressRange &Range : Ranges()) {
    Known = Known || Range.ContainsAccess(Port, Width);
  }
  if (!Known || Width == 0) {
    throw std::out_of_range("no POST-code port answers a read of " + std::to_string(Width) +
                            " bytes at port " + std::to_string(Port));
  }
  std::lock_guard<std::mutex> Guard(Lock());
  return ReadLatch(Port, Width);
}

void PostCodePorts::Clear() {
  std::lock_guard<std::mutex> Guard(Lock());
  Writes_.clear();
  DisplayLatch_ = 0;
  FatalLatch_ = 0;
}

}  // namespace sim
