// Build-time settings of the debug output. DebugOutputEnabled is a constant of the linked image:
// the delivered image links the object that sets it FALSE, the debug image the one that sets it
// TRUE. Nothing writes it at run time.
#ifndef DEBUG_DEBUG_OUTPUT_SETTINGS_H_
#define DEBUG_DEBUG_OUTPUT_SETTINGS_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

extern const BOOLEAN DebugOutputEnabled;
constexpr UINT64 DebugFilterMask = 0x100401008A300408ULL;
constexpr UINT64 DebugUartBase = 0x3F8;
constexpr UINT16 DebugCapturePort = 0x80;

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DEBUG_DEBUG_OUTPUT_SETTINGS_H_
