// EFI_SMM_COMMUNICATION_PROTOCOL of the PI specification.
#ifndef UEFI_SMM_COMMUNICATION_H_
#define UEFI_SMM_COMMUNICATION_H_

#include "uefi/Base.h"

typedef struct _EFI_SMM_COMMUNICATION_PROTOCOL EFI_SMM_COMMUNICATION_PROTOCOL;

struct _EFI_SMM_COMMUNICATION_PROTOCOL {
  EFI_STATUS(EFIAPI *Communicate)(IN CONST EFI_SMM_COMMUNICATION_PROTOCOL *This, IN OUT VOID *CommBuffer,
                                  IN OUT UINTN *CommSize);
};

// The header every communication buffer starts with.
typedef struct {
  EFI_GUID HeaderGuid;
  UINTN MessageLength;
  UINT8 Data[1];
} EFI_SMM_COMMUNICATE_HEADER;

#endif  // UEFI_SMM_COMMUNICATION_H_
