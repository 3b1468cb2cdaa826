// The security coprocessor (Hcu): where its registers are found and the two-party mutex that
// x86 code holds with it around changes of the SMM configuration.
#ifndef ARCH_HCU_H_
#define ARCH_HCU_H_

#include "arch/Registers.h"

namespace Hcu {

// The coprocessor's register block in the sideband space differs by processor family.
constexpr uint32_t DefaultSidebandBlock = 0x13B10000;
constexpr uint32_t AlternateSidebandBlock = 0x13E10000;

// The sideband register that tells where the coprocessor's MMIO block lies. Zero means the
// coprocessor is not available; the bits below the base carry other state.
struct MmioBaseRegister {
  static constexpr uint32_t BlockOffset = 0x2E0;
  using Base = RegisterField<31, 20>;
  static constexpr uint32_t BaseMask = 0xFFF00000;
};

// The MMIO block is 1 MB, aligned to its size.
constexpr uint64_t MmioBlockSize = 0x100000;

// The mailbox lies at a family-dependent offset inside the MMIO block.
constexpr uint32_t DefaultMailboxOffset = 0x10500;
constexpr uint32_t AlternateMailboxOffset = 0x10900;

// The Peterson mutex shared with the coprocessor, as offsets from the mailbox. Each party sets
// its own request flag and hands the turn to the other before it waits.
struct Mutex {
  static constexpr uint32_t X86FlagOffset = 0x5C;
  static constexpr uint32_t CoprocessorFlagOffset = 0x60;
  static constexpr uint32_t TurnOffset = 0x64;
  static constexpr uint32_t TurnX86 = 0;
  static constexpr uint32_t TurnCoprocessor = 1;
};

}  // namespace Hcu

#endif  // ARCH_HCU_H_
