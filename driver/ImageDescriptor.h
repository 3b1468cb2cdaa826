// What a loader needs to know of one driver image: how to load it (reset its state to load-time
// values), its entry point, and its library start-up alone (for a driver that only links the
// shared libraries).
#ifndef DRIVER_IMAGE_DESCRIPTOR_H_
#define DRIVER_IMAGE_DESCRIPTOR_H_

#include "uefi/SystemTable.h"

struct CCX_DRIVER_IMAGE {
  const char *Name;
  void (*Load)();
  EFI_IMAGE_ENTRY_POINT EntryPoint;
  VOID(EFIAPI *LibraryStartup)(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
};

extern "C" {
// The delivered driver.
extern const CCX_DRIVER_IMAGE CcxImageDescriptor;
// The same driver with debug output built in.
extern const CCX_DRIVER_IMAGE CcxImageDebugDescriptor;
// A second driver of the boot that links the shared heap and S3 libraries.
extern const CCX_DRIVER_IMAGE CcxPeerImageDescriptor;
}

#endif  // DRIVER_IMAGE_DESCRIPTOR_H_
