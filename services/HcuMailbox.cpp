#include "services/HcuMailbox.h"

#include "arch/Hcu.h"
#include "arch/PciEcam.h"
#include "arch/PortIo.h"
#include "arch/Processor.h"
#include "debug/DebugPrint.h"
#include "driver/ImageState.h"
#include "driver/ProcessorFamily.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {


constexpr UINT32 kUnavailableRead = 0xFFFFFFFF;

UINT32 MutexRegister(UINT32 Offset) { return gImage.Library.HcuMailboxOffset + Offset; }

}  // namespace

UINT32 GetHcuMmioBase() {
  const PROCESSOR_FAMILY_ENTRY *Entry = nullptr;
  const UINT32 Block = FindProcessorFamilyEntry(&Entry) ? Entry->HcuSidebandBlock : kDefaultHcuSidebandBlock;
  MmioWrite32(PciEcam::Segment0SidebandIndex, Block + Hcu::MmioBaseRegister::BlockOffset);
  return MmioRead32(PciEcam::Segment0SidebandData) & Hcu::MmioBaseRegister::BaseMask;
}

UINT32 HcuMmioRead32(UINT32 Offset) {
  const UINT32 Base = GetHcuMmioBase();
  if (Base == 0) {
    PrintDebugMessage(DEBUG_ERROR, " GetHcuMmioBase returned with Error \n");
    return kUnavailableRead;
  }
  return MmioRead32(UINT64{Base} + Offset);
}

VOID HcuMmioWrite32(UINT32 Offset, UINT32 Value) {
  const UINT32 Base = GetHcuMmioBase();
  if (Base == 0) {
    PrintDebugMessage(DEBUG_ERROR, " GetHcuMmioBase returned with Error \n");
    return;
  }
  MmioWrite32(UINT64{Base} + Offset, Value);
}

VOID HcuMutexAcquire() {
  if (GetHcuMmioBase() == 0) {
    return;
  }
  // Ask for the lock, then yield the turn: the coprocessor goes first if it asked too, and the
  // wait ends as soon as it either no longer wants the lock or hands the turn back.
  HcuMmioWrite32(MutexRegister(Hcu::Mutex::X86FlagOffset), 1);
  HcuMmioWrite32(MutexRegister(Hcu::Mutex::TurnOffset), Hcu::Mutex::TurnCoprocessor);
  while (HcuMmioRead32(MutexRegister(Hcu::Mutex::CoprocessorFlagOffset)) == 1 &&
         HcuMmioRead32(MutexRegister(Hcu::Mutex::TurnOffset)) == Hcu::Mutex::TurnCoprocessor) {
    CpuPause();
  }
}

VOID HcuMutexRelease() {
  if (GetHcuMmioBase() == 0) {
    return;
  }
  HcuMmioWrite32(MutexRegister(Hcu::Mutex::X86FlagOffset), 0);
}

}  // namespace CCX_IMAGE_NAMESPACE
