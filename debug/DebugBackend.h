// The debug back-ends: each is a constant record of four operations, and the driver prints
// through every back-end of a constant, null-terminated list that is usable now and admits the
// message's level. Back-ends keep no state in memory; whatever state they have is in hardware.
#ifndef DEBUG_DEBUG_BACKEND_H_
#define DEBUG_DEBUG_BACKEND_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

struct DEBUG_OUTPUT_BACKEND {
  // Whether the back-end can be used now. Asked twice per message, so it has no side effects.
  BOOLEAN (*IsSupported)();
  // Prepares the back-end at start-up.
  VOID (*Initialize)();
  // Mask comes in holding the build-time filter; a back-end may replace it with its own. The
  // result is ignored.
  BOOLEAN (*GetFilterMask)(UINT64 *Mask);
  // Sends Length bytes of a formatted message. The result is ignored.
  UINTN (*Print)(const CHAR8 *Buffer, UINTN Length);
};

// A list entry; the list ends at a null pointer.
typedef const DEBUG_OUTPUT_BACKEND *const DEBUG_OUTPUT_BACKEND_ENTRY;

extern const DEBUG_OUTPUT_BACKEND PortCaptureBackend;
extern const DEBUG_OUTPUT_BACKEND UartBackend;
extern const DEBUG_OUTPUT_BACKEND LegacySerialBackend;

// Stores the address of the first entry of the back-end list.
VOID GetDebugOutputBackends(DEBUG_OUTPUT_BACKEND_ENTRY **Backends);
// Asks every back-end of the list, without stopping at the first that answers TRUE, whether it
// is usable; TRUE if any is.
BOOLEAN AnyDebugBackendSupported(DEBUG_OUTPUT_BACKEND_ENTRY *Backends);

// Operations the back-ends share: the build-time switch as an answer, and a filter that leaves
// the build-time mask as it is.
BOOLEAN DebugBackendEnabledByBuild();
BOOLEAN DebugBackendAlwaysSupported();
VOID DebugBackendNoInitialization();
BOOLEAN DebugBackendKeepFilterMask(UINT64 *Mask);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DEBUG_DEBUG_BACKEND_H_
