#include "debug/DebugBackend.h"

#include "debug/DebugOutputSettings.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

// Tried in this order for every message.
DEBUG_OUTPUT_BACKEND_ENTRY kDebugOutputBackends[] = {&PortCaptureBackend, &UartBackend, &LegacySerialBackend,
                                                     nullptr};

}  // namespace

VOID GetDebugOutputBackends(DEBUG_OUTPUT_BACKEND_ENTRY **Backends) { *Backends = kDebugOutputBackends; }

BOOLEAN AnyDebugBackendSupported(DEBUG_OUTPUT_BACKEND_ENTRY *Backends) {
  BOOLEAN Supported = FALSE;
  for (UINT8 Index = 0; Backends[Index] != nullptr; Index++) {
    if (Backends[Index]->IsSupported()) {
      Supported = TRUE;
    }
  }
  return Supported;
}

BOOLEAN DebugBackendEnabledByBuild() { return DebugOutputEnabled; }

BOOLEAN DebugBackendAlwaysSupported() { return TRUE; }

VOID DebugBackendNoInitialization() {}

BOOLEAN DebugBackendKeepFilterMask(UINT64 *Mask) { return FALSE; }

}  // namespace CCX_IMAGE_NAMESPACE
