// QORVEX_REGION_SERVICES_PROTOCOL: the platform's register of memory regions that components set
// aside; the PCC shared-memory region is handed to it once it is ready. Its functions take no
// record argument. Names, widths and the argument order are this platform's.
#ifndef INTERFACES_REGION_SERVICES_H_
#define INTERFACES_REGION_SERVICES_H_

#include "uefi/Base.h"

typedef struct {
  // Slots 1 to 3: the record's revision and two services this driver never uses.
  UINT64 Revision;
  EFI_STATUS(EFIAPI *GetRegionCount)(OUT UINTN *Count);
  EFI_STATUS(EFIAPI *GetRegion)(IN UINTN Index, OUT EFI_PHYSICAL_ADDRESS *Base, OUT UINT64 *Length);
  // Slot 4, the third function: records the region of Length bytes at Base. The PCC region is
  // handed over with Flags 0.
  EFI_STATUS(EFIAPI *RegisterRegion)(IN EFI_PHYSICAL_ADDRESS Base, IN UINT64 Length, IN UINT64 Flags);
} QORVEX_REGION_SERVICES_PROTOCOL;
static_assert(offsetof(QORVEX_REGION_SERVICES_PROTOCOL, RegisterRegion) == 3 * 8,
              "RegisterRegion is the third function");

#endif  // INTERFACES_REGION_SERVICES_H_
