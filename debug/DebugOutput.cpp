#include "debug/DebugPrint.h"

#include "debug/DebugBackend.h"
#include "debug/DebugOutputSettings.h"
#include "debug/Formatter.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

// One message is at most 511 characters and its NUL; longer text is cut without notice.
constexpr UINTN kMessageBufferSize = 512;

}  // namespace

VOID EFIAPI PrintDebugMessage(UINT64 Level, const CHAR8 *Format, ...) {
  VA_LIST Args;
  VA_START(Args, Format);
  PrintDebugMessageV(Level, Format, Args);
  VA_END(Args);
}

// The message is formatted before the back-ends are asked, so a level that no back-end admits
// still costs the formatting.
VOID EFIAPI PrintDebugMessageV(UINT64 Level, const CHAR8 *Format, VA_LIST Args) {
  if (!DebugOutputEnabled) {
    return;
  }
  CHAR8 Buffer[kMessageBufferSize];
  const UINTN Length = FormatToBufferV(Buffer, sizeof(Buffer), Format, Args);

  DEBUG_OUTPUT_BACKEND_ENTRY *Backends;
  GetDebugOutputBackends(&Backends);
  if (!AnyDebugBackendSupported(Backends)) {
    return;
  }
  for (UINT8 Index = 0; Backends[Index] != nullptr; Index++) {
    const DEBUG_OUTPUT_BACKEND *Backend = Backends[Index];
    if (!Backend->IsSupported()) {
      continue;
    }
    UINT64 Mask = DebugFilterMask;
    Backend->GetFilterMask(&Mask);
    if ((Level & Mask) == 0) {
      continue;
    }
    Backend->Print(Buffer, Length);
  }
}

EFI_STATUS InitializeDebugOutput() {
  DEBUG_OUTPUT_BACKEND_ENTRY *Backends;
  GetDebugOutputBackends(&Backends);
  if (!AnyDebugBackendSupported(Backends)) {
    return EFI_SUCCESS;
  }
  for (UINT8 Index = 0; Backends[Index] != nullptr; Index++) {
    if (Backends[Index]->IsSupported()) {
      Backends[Index]->Initialize();
    }
  }
  return EFI_SUCCESS;
}

}  // namespace CCX_IMAGE_NAMESPACE
