// Memory-mapped PCI configuration space (ECAM): where a function's registers lie in a segment's
// window, and the host bridge's index/data pair into the sideband register space.
#ifndef ARCH_PCI_ECAM_H_
#define ARCH_PCI_ECAM_H_

#include "arch/Registers.h"

namespace PciEcam {

// Segment 0's window; segment k follows at k windows further up.
constexpr uint64_t Segment0Base = 0x3FB00000000ULL;
constexpr uint64_t SegmentWindowSize = 0x10000000;
constexpr uint64_t FunctionConfigSize = 0x1000;

// The offset of a configuration register inside its segment's window.
struct Offset {
  using Bus = RegisterField<27, 20>;
  using Device = RegisterField<19, 15>;
  using Function = RegisterField<14, 12>;
  using Register = RegisterField<11, 0>;
};

constexpr uint64_t OffsetOf(uint64_t Bus, uint64_t Device, uint64_t Function, uint64_t Register) {
  return Offset::Register::Set(
      Offset::Function::Set(Offset::Device::Set(Offset::Bus::Set(0, Bus), Device), Function),
      Register);
}

constexpr uint64_t AddressOf(uint64_t SegmentBase, uint64_t Bus, uint64_t Device, uint64_t Function,
                             uint64_t Register) {
  return SegmentBase + OffsetOf(Bus, Device, Function, Register);
}

// A configuration register named across segments. The 64-bit form carries the segment number in
// bits 47:32, the 32-bit form in bits 31:28, so that a 32-bit address below 256 MB lies in segment
// 0. Both carry the register's offset inside its segment's window in bits 27:0.
struct SegmentAddress {
  using Segment = RegisterField<47, 32>;
  using Offset = RegisterField<27, 0>;
};
struct SegmentAddress32 {
  using Segment = RegisterField<31, 28>;
  using Offset = RegisterField<27, 0>;
};

// A host bridge named by its segment and bus, as the fabric's host-bridge map gives it.
struct HostBridgeId {
  using Segment = RegisterField<23, 8>;
  using Bus = RegisterField<7, 0>;
};

// Device 0, function 0 of every host-bridge bus carries a 32-bit index register and a 32-bit
// data register: the index selects a sideband address, the data register reads or writes it.
struct HostBridgeSideband {
  static constexpr uint64_t Device = 0;
  static constexpr uint64_t Function = 0;
  static constexpr uint64_t IndexOffset = 0xB8;
  static constexpr uint64_t DataOffset = 0xBC;
};

// The pair of the host bridge on bus 0 of segment 0.
constexpr uint64_t Segment0SidebandIndex =
    AddressOf(Segment0Base, 0, HostBridgeSideband::Device, HostBridgeSideband::Function, HostBridgeSideband::IndexOffset);
constexpr uint64_t Segment0SidebandData =
    AddressOf(Segment0Base, 0, HostBridgeSideband::Device, HostBridgeSideband::Function, HostBridgeSideband::DataOffset);

}  // namespace PciEcam

#endif  // ARCH_PCI_ECAM_H_
