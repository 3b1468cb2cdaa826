// QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL: counts of every level of the processor topology.
// Indices and counts are unsigned 64-bit; a negative status is a failure.
#ifndef INTERFACES_FABRIC_TOPOLOGY_SERVICES_H_
#define INTERFACES_FABRIC_TOPOLOGY_SERVICES_H_

#include "uefi/Base.h"

typedef struct _QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL;

struct _QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL {
  // Slots 1 and 2: the record's revision and a root-bridge query this driver never uses.
  UINT64 Revision;
  EFI_STATUS(EFIAPI *GetRootBridgeInfo)(IN QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, IN UINTN Socket,
                                        IN UINTN Die, IN UINTN Index, OUT UINTN *BusBase, OUT UINTN *BusLimit);
  // Slots 3 to 8: the count queries, one per level.
  EFI_STATUS(EFIAPI *GetNumberOfSockets)(IN QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, OUT UINTN *Count);
  EFI_STATUS(EFIAPI *GetNumberOfDies)(IN QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, IN UINTN Socket,
                                      OUT UINTN *Count);
  EFI_STATUS(EFIAPI *GetNumberOfComplexDies)(IN QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, IN UINTN Socket,
                                             IN UINTN Die, OUT UINTN *Count);
  EFI_STATUS(EFIAPI *GetNumberOfComplexes)(IN QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, IN UINTN Socket,
                                           IN UINTN Die, IN UINTN ComplexDie, OUT UINTN *Count);
  EFI_STATUS(EFIAPI *GetNumberOfCores)(IN QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, IN UINTN Socket,
                                       IN UINTN Die, IN UINTN ComplexDie, IN UINTN Complex, OUT UINTN *Count);
  EFI_STATUS(EFIAPI *GetNumberOfThreads)(IN QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, IN UINTN Socket,
                                         IN UINTN Die, IN UINTN ComplexDie, IN UINTN Complex, IN UINTN Core,
                                         OUT UINTN *Count);
};

#endif  // INTERFACES_FABRIC_TOPOLOGY_SERVICES_H_
