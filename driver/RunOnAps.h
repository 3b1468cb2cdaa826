// Runs a procedure on the application processors: on all of them, or on the first thread of every
// core, complex, complex die, die or socket.
#ifndef DRIVER_RUN_ON_APS_H_
#define DRIVER_RUN_ON_APS_H_

#include "arch/ImageNamespace.h"
#include "uefi/MpServices.h"

namespace CCX_IMAGE_NAMESPACE {

// Which processors CcxRunFunctionOnAps starts.
constexpr UINT32 CCX_RUN_ALL_APS = 0;
constexpr UINT32 CCX_RUN_PER_CORE = 1;
constexpr UINT32 CCX_RUN_PER_COMPLEX = 2;
constexpr UINT32 CCX_RUN_PER_COMPLEX_DIE = 3;
constexpr UINT32 CCX_RUN_PER_DIE = 4;
constexpr UINT32 CCX_RUN_PER_SOCKET = 5;

// What a StartupAllAPs result says went wrong: nothing when every AP ran the procedure, nor when
// the system has no AP to run it (EFI_NOT_STARTED); any other error means that APs may have
// missed it while the BSP goes on.
constexpr EFI_STATUS AllApsStartFailure(EFI_STATUS Status) { return Status == EFI_NOT_STARTED ? EFI_SUCCESS : Status; }

// BSP only. Level 0 runs Procedure on every AP at once. The other levels run it on the first
// thread of every unit of the level, one processor at a time; with the fabric topology service
// that includes processor 0, whose refusal (it is the BSP) enters the result, and without it
// processor 0 is left out. The result is the largest status met.
EFI_STATUS CcxRunFunctionOnAps(UINT32 Level, EFI_AP_PROCEDURE Procedure, VOID *Argument);

// What a run did: the status CcxRunFunctionOnAps answers, and whether Procedure ran on every unit
// the run counted. The status alone can't say so, since at every level but 0 it holds the BSP's
// refusal. The BSP's own unit counts as reached (the caller does the BSP's part itself); a count
// the run could not have, a processor other than the BSP that could not be started, counts that
// do not describe the machine, or MP services that can't be found leave units unreached.
struct CCX_RUN_RESULT {
  EFI_STATUS Status;
  BOOLEAN EveryUnitReached;
};
CCX_RUN_RESULT CcxRunFunctionOnUnits(UINT32 Level, EFI_AP_PROCEDURE Procedure, VOID *Argument);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DRIVER_RUN_ON_APS_H_
