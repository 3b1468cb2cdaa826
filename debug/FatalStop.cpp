#include "debug/FatalStop.h"

#include "arch/Msr.h"
#include "arch/PortIo.h"
#include "arch/PostCode.h"
#include "arch/Processor.h"
#include "driver/ImageState.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kDelayMicroseconds = 2500000;
constexpr UINT64 kMicrosecondsPerSecond = 1000000;
// The time-stamp counter runs at FID x 200 MHz / DID.
constexpr UINT64 kTscHertzPerFid = 200000000;

constexpr UINT64 kRingMarker = 0xFFFFDEADULL;

constexpr UINT64 RotateLeft(UINT64 Value, unsigned Bits) { return (Value << Bits) | (Value >> (64 - Bits)); }

}  // namespace

UINT64 FatalStopRing(UINT32 Code) { return ((kRingMarker << 32) | Code) << 16; }

UINT64 FatalStopCycle(UINT64 Ring, UINT32 (&Shown)[kFatalStopWindows]) {
  for (UINTN Window = 0; Window < kFatalStopWindows; Window++) {
    Ring = RotateLeft(Ring, 8);
    Shown[Window] = static_cast<UINT32>(Ring);
  }
  return RotateLeft(Ring, 16);
}

UINT32 FatalStopDelay() {
  const UINT64 Pstate = Msr::PstateStatus::CurPstate::Get(AsmReadMsr64(Msr::PstateStatus::Number));
  const UINT64 Definition = AsmReadMsr64(Msr::PstateDef::FirstNumber + static_cast<UINT32>(Pstate));
  const UINT64 Fid = Msr::PstateDef::CpuFid::Get(Definition);
  UINT64 Did = Msr::PstateDef::CpuDfsId::Get(Definition);
  if (Did == 0) {
    Did = 1;
  }
  const UINT64 Ticks = ((Fid * kTscHertzPerFid) / Did) * kDelayMicroseconds / kMicrosecondsPerSecond;
  // Elapsed ticks rather than an end value, so that a counter wrapping during the wait cannot
  // end it early.
  const UINT64 Start = ReadTimeStampCounter();
  while (ReadTimeStampCounter() - Start <= Ticks) {
    CpuPause();
  }
  return kDelayMicroseconds;
}

VOID FatalStop(UINT32 Code) {
  if (gImage.Library.TestPointConfig.FatalStopEnable == 0) {
    return;
  }
  IoWrite16(PostCode::FatalStopPort, PostCode::FatalStopMarker);
  IoWrite32(PostCode::Port, Code);
  // A simulation environment answers the back-door and lets the caller take its fallback.
  if (BackdoorQuery() != 0) {
    return;
  }
  // On hardware the stop is final: the display scrolls the marker and the code until reset.
  UINT64 Ring = FatalStopRing(Code);
  for (;;) {
    UINT32 Shown[kFatalStopWindows];
    Ring = FatalStopCycle(Ring, Shown);
    for (const UINT32 Window : Shown) {
      IoWrite32(PostCode::Port, Window);
      FatalStopDelay();
    }
  }
}

}  // namespace CCX_IMAGE_NAMESPACE
