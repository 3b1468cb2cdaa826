#include "sim/uefi/Variable.h"

namespace sim {

EFI_STATUS CheckVariableAttributes(uint32_t attributes) {
  constexpr uint32_t kAccess =
      EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
  constexpr uint32_t kAuthenticated = kVariableAuthenticatedWriteAccess |
                                      EFI_VARIABLE_TIME_BASED_AUTHENTICATED_WRITE_ACCESS |
                                      kVariableEnhancedAuthenticatedAccess;
  constexpr uint32_t kKnown = kAccess | EFI_VARIABLE_HARDWARE_ERROR_RECORD | kAuthenticated | EFI_VARIABLE_APPEND_WRITE;
  if ((attributes & ~kKnown) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if ((attributes & EFI_VARIABLE_RUNTIME_ACCESS) != 0 && (attributes & EFI_VARIABLE_BOOTSERVICE_ACCESS) == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if ((attributes & EFI_VARIABLE_HARDWARE_ERROR_RECORD) != 0 && (attributes & kAccess) != kAccess) {
    return EFI_INVALID_PARAMETER;
  }
  if ((attributes & kAuthenticated) != 0) {
    return EFI_UNSUPPORTED;
  }
  return EFI_SUCCESS;
}

}  // namespace sim
