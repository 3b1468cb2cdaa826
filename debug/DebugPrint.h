// The one way the driver prints: PrintDebugMessage with a level mask, an ASCII format and its
// arguments (one 64-bit slot each). Messages reach the back-ends whose filter admits the level.
#ifndef DEBUG_DEBUG_PRINT_H_
#define DEBUG_DEBUG_PRINT_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

#define TRACE_CPU 0x400ULL
#define DEBUG_ERROR 0x80000000ULL
#define TRACE_CONFIG 0x800000ULL
#define TRACE_GENERAL 0x4000000000000ULL
#define TRACE_HOOK 0x20000000000000ULL

// Every message that tells why a service's answer is incomplete (a topology walk cut short,
// processors a run could not reach) is an error: the caller gets an error status with it.
#define DEBUG_INCOMPLETE_ANSWER DEBUG_ERROR

namespace CCX_IMAGE_NAMESPACE {

VOID EFIAPI PrintDebugMessage(UINT64 Level, const CHAR8 *Format, ...);
VOID EFIAPI PrintDebugMessageV(UINT64 Level, const CHAR8 *Format, VA_LIST Args);
// Prepares the back-ends that can be used now; the last step of the library start-up.
EFI_STATUS InitializeDebugOutput();

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DEBUG_DEBUG_PRINT_H_
