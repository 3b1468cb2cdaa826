// Chipset registers the driver touches: the SMM lock bracket and what the legacy serial port
// needs to be decoded and driven.
#ifndef ARCH_CHIPSET_H_
#define ARCH_CHIPSET_H_

#include "arch/Registers.h"

namespace Chipset {

// The two small register ranges that hold every chipset register below.
constexpr uint64_t MiscRangeBase = 0xFED80000;
constexpr uint64_t MiscRangeSize = 0x2000;
constexpr uint64_t SerialRangeBase = 0xFEDC0000;
constexpr uint64_t SerialRangeSize = 0x10000;

// 32-bit register whose bit 31 is held set while the SMM configuration is being locked.
struct SmmLockBracket {
  static constexpr uint64_t Address = 0xFED80298;
  using Held = RegisterBit<31>;
};

// 16-bit word that selects which legacy serial controllers are decoded.
struct LegacySerialDecode {
  static constexpr uint64_t Address = 0xFEDC0020;
};

// 16-bit enable register of each serial controller, by controller number.
struct SerialControllerEnable {
  static constexpr uint64_t Address[4] = {0xFEDC9008, 0xFEDCA008, 0xFEDCE008, 0xFEDCF008};
  using Enable = RegisterBit<0>;
};

// Pin set-up of the legacy serial port: six byte registers written in this order, then one
// 32-bit register.
constexpr uint64_t SerialPinByteRegisters[6] = {0xFED80D87, 0xFED81720, 0xFED80D89,
                                               0xFED80D8A, 0xFED80D8E, 0xFED80D8F};
constexpr uint64_t SerialPinWordRegister = 0xFED80D8C;

// PCI configuration register of the controller hub (bus 0, device 0x14, function 0) whose bit
// 28 + n routes legacy serial controller n.
struct LegacySerialRouting {
  static constexpr uint64_t Bus = 0;
  static constexpr uint64_t Device = 0x14;
  static constexpr uint64_t Function = 0;
  static constexpr uint64_t Offset = 0xFC;
  static constexpr unsigned FirstControllerBit = 28;
};

}  // namespace Chipset

#endif  // ARCH_CHIPSET_H_
