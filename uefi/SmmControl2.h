// EFI_SMM_CONTROL2_PROTOCOL of the PI specification.
#ifndef UEFI_SMM_CONTROL2_H_
#define UEFI_SMM_CONTROL2_H_

#include "uefi/Base.h"

typedef struct _EFI_SMM_CONTROL2_PROTOCOL EFI_SMM_CONTROL2_PROTOCOL;
typedef UINTN EFI_SMM_PERIOD;

struct _EFI_SMM_CONTROL2_PROTOCOL {
  EFI_STATUS(EFIAPI *Trigger)(IN CONST EFI_SMM_CONTROL2_PROTOCOL *This, IN OUT UINT8 *CommandPort,
                              IN OUT UINT8 *DataPort, IN BOOLEAN Periodic, IN UINTN ActivationInterval);
  EFI_STATUS(EFIAPI *Clear)(IN CONST EFI_SMM_CONTROL2_PROTOCOL *This, IN BOOLEAN Periodic);
  EFI_SMM_PERIOD MinimumTriggerPeriod;
};

#endif  // UEFI_SMM_CONTROL2_H_
