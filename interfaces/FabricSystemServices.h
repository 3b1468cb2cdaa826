// QORVEX_FABRIC_SYSTEM_SERVICES_PROTOCOL: system-wide facts. Every output is an unsigned 64-bit
// count and may be passed as null when the caller doesn't want it.
#ifndef INTERFACES_FABRIC_SYSTEM_SERVICES_H_
#define INTERFACES_FABRIC_SYSTEM_SERVICES_H_

#include "uefi/Base.h"

typedef struct _QORVEX_FABRIC_SYSTEM_SERVICES_PROTOCOL QORVEX_FABRIC_SYSTEM_SERVICES_PROTOCOL;

struct _QORVEX_FABRIC_SYSTEM_SERVICES_PROTOCOL {
  UINT64 Revision;
  EFI_STATUS(EFIAPI *GetSystemInfo)(IN QORVEX_FABRIC_SYSTEM_SERVICES_PROTOCOL *This, OUT UINTN *NumberOfSockets,
                                    OUT UINTN *TotalNumberOfDie, OUT UINTN *TotalNumberOfRootBridges,
                                    OUT UINTN *SystemRootBridge, OUT UINTN *SystemRootBridgeBus);
};

#endif  // INTERFACES_FABRIC_SYSTEM_SERVICES_H_
