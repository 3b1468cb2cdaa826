// The port-capture back-end: a capture card on the POST-code port records the message text
// between a start and an end marker.
#include "debug/DebugBackend.h"

#include "arch/PostCode.h"
#include "arch/WidthAccess.h"
#include "debug/DebugOutputSettings.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT8 kByteWidth = 1;
constexpr UINT8 kDwordWidth = 3;

// The markers go out even for an empty message, so the capture always sees a complete frame.
UINTN PortCapturePrint(const CHAR8 *Buffer, UINTN Length) {
  const UINT32 Start = PostCode::CaptureStartMarker;
  const UINT32 End = PostCode::CaptureEndMarker;
  IoWriteWidth(kDwordWidth, DebugCapturePort, &Start);
  for (UINTN Index = 0; Index < Length; Index++) {
    IoWriteWidth(kByteWidth, DebugCapturePort, &Buffer[Index]);
  }
  IoWriteWidth(kDwordWidth, DebugCapturePort, &End);
  return Length;
}

}  // namespace

const DEBUG_OUTPUT_BACKEND PortCaptureBackend = {
    DebugBackendEnabledByBuild,
    DebugBackendNoInitialization,
    DebugBackendKeepFilterMask,
    PortCapturePrint,
};

}  // namespace CCX_IMAGE_NAMESPACE
