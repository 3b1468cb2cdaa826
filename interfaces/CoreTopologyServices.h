// The two core topology services: per-die counts used when the fabric topology service is absent.
// Every output is an unsigned 64-bit count.
#ifndef INTERFACES_CORE_TOPOLOGY_SERVICES_H_
#define INTERFACES_CORE_TOPOLOGY_SERVICES_H_

#include "uefi/Base.h"

typedef struct _QORVEX_CORE_TOPOLOGY_SERVICES_PROTOCOL QORVEX_CORE_TOPOLOGY_SERVICES_PROTOCOL;
typedef struct _QORVEX_CORE_TOPOLOGY_SERVICES_V2_PROTOCOL QORVEX_CORE_TOPOLOGY_SERVICES_V2_PROTOCOL;

struct _QORVEX_CORE_TOPOLOGY_SERVICES_PROTOCOL {
  UINT64 Revision;
  EFI_STATUS(EFIAPI *GetCoreTopologyOnDie)(IN QORVEX_CORE_TOPOLOGY_SERVICES_PROTOCOL *This, IN UINTN Socket,
                                           IN UINTN Die, OUT UINTN *NumberOfComplexes, OUT UINTN *NumberOfCores,
                                           OUT UINTN *NumberOfThreads);
};

struct _QORVEX_CORE_TOPOLOGY_SERVICES_V2_PROTOCOL {
  UINT64 Revision;
  EFI_STATUS(EFIAPI *GetCoreTopologyOnDie)(IN QORVEX_CORE_TOPOLOGY_SERVICES_V2_PROTOCOL *This, IN UINTN Socket,
                                           IN UINTN Die, OUT UINTN *NumberOfComplexDies,
                                           OUT UINTN *NumberOfComplexes, OUT UINTN *NumberOfCores,
                                           OUT UINTN *NumberOfThreads);
};

#endif  // INTERFACES_CORE_TOPOLOGY_SERVICES_H_
