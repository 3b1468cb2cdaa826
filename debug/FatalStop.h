// Progress codes and fatal stops on the platform's POST-code hardware.
#ifndef DEBUG_FATAL_STOP_H_
#define DEBUG_FATAL_STOP_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

// Marks progress with a 32-bit code on port 0x80 (and optionally an internal register).
VOID TestPoint(UINT32 Code);
// Marks an unrecoverable error. Returns when stops are disabled or a simulation environment
// answers the back-door; otherwise scrolls the code on the POST-code display forever.
VOID FatalStop(UINT32 Code);

// Writes Value to the internal register named by the configuration's mirror tag, through the
// sideband index/data pair, when the mirror is enabled and its selector asks for it.
VOID TestPointMirror(UINT32 Value);
// Waits about 2.5 seconds on the time-stamp counter, taking its rate from the current P-state.
// Returns the delay in microseconds, always 2,500,000.
UINT32 FatalStopDelay();

// The display cycle of a stopped system: the 64-bit ring DE AD c3 c2 c1 c0 00 00 (c3..c0 the
// code's bytes) that the display walks through in 4-byte windows.
constexpr UINTN kFatalStopWindows = 6;
UINT64 FatalStopRing(UINT32 Code);
// One cycle: fills the six 32-bit values the port shows in turn and returns the ring for the
// next cycle, which is the same ring again.
UINT64 FatalStopCycle(UINT64 Ring, UINT32 (&Shown)[kFatalStopWindows]);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DEBUG_FATAL_STOP_H_
