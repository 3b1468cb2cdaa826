// The processor's sideband register space, reached through the index/data pair of a host bridge:
// the index register selects a sideband address and the data register reads it.
#include "services/CoreRegisters.h"

#include "arch/CoreComplexRegisters.h"
#include "arch/PciEcam.h"
#include "debug/FatalStop.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kFatalCoreComplexOffsetRange = 0xDFF80105;
constexpr UINT32 kFatalCoreComplexOffsetAlign = 0xDFF80106;

using Pair = PciEcam::HostBridgeSideband;

// The 64-bit segment address of a register of the pair on a host bridge's bus.
UINT64 PairAddress(UINT64 Segment, UINT64 Bus, UINT64 Register) {
  return PciEcam::SegmentAddress::Segment::Set(PciEcam::OffsetOf(Bus, Pair::Device, Pair::Function, Register),
                                               Segment);
}

// The same register in the 32-bit form that PciSegmentRead32 takes. Only segments of the table
// are named here, and they all fit the form's segment field.
UINT32 PairAddress32(UINT64 Segment, UINT64 Bus, UINT64 Register) {
  return static_cast<UINT32>(PciEcam::SegmentAddress32::Segment::Set(
      PciEcam::OffsetOf(Bus, Pair::Device, Pair::Function, Register), Segment));
}

}  // namespace

// Bus 0's pair is shared with everything else in the firmware that reaches the sideband space,
// so the index is put back as it was found.
VOID SidebandRead32(UINT32 SidebandAddress, UINT32 *Value) {
  UINT32 Saved = 0;
  PciSegmentRead32(PairAddress32(0, 0, Pair::IndexOffset), &Saved);
  PciSegmentWrite32(PairAddress(0, 0, Pair::IndexOffset), SidebandAddress);
  PciSegmentRead32(PairAddress32(0, 0, Pair::DataOffset), Value);
  PciSegmentWrite32(PairAddress(0, 0, Pair::IndexOffset), Saved);
}

// A bridge on a segment without a window has no pair to use: nothing is written to any index
// register, and the read gives all ones.
VOID SidebandRead32OnBus(UINT32 HostBridge, UINT32 SidebandAddress, UINT32 *Value) {
  const UINT64 Segment = PciEcam::HostBridgeId::Segment::Get(HostBridge);
  const UINT64 Bus = PciEcam::HostBridgeId::Bus::Get(HostBridge);
  if (!PciSegmentPresent(Segment)) {
    *Value = kPciNoDevice;
    return;
  }
  PciSegmentWrite32(PairAddress(Segment, Bus, Pair::IndexOffset), SidebandAddress);
  PciSegmentRead32(PairAddress32(Segment, Bus, Pair::DataOffset), Value);
}

// Without a bridge that reaches the core complexes there is no register to read; the result is
// all ones, as from a configuration read that nothing answers.
UINT32 ReadCoreComplexRegister32(UINT32 Offset) {
  if (Offset >= Sideband::CoreComplexBlock::OffsetLimit) {
    FatalStop(kFatalCoreComplexOffsetRange);
  }
  if (Offset % sizeof(UINT32) != 0) {
    FatalStop(kFatalCoreComplexOffsetAlign);
  }
  const UINT32 HostBridge = FindSidebandHostBridge();
  if (HostBridge == kNoSidebandHostBridge) {
    return kPciNoDevice;
  }
  UINT32 Value = 0;
  SidebandRead32OnBus(HostBridge,
                      Sideband::CoreComplexBlock::BaseAddress +
                          static_cast<UINT32>(Sideband::CoreComplexBlock::Register::Get(Offset)),
                      &Value);
  return Value;
}

}  // namespace CCX_IMAGE_NAMESPACE
