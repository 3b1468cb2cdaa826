// EFI_LOADED_IMAGE_PROTOCOL: what the firmware core installs on every image handle it creates.
#ifndef UEFI_LOADED_IMAGE_H_
#define UEFI_LOADED_IMAGE_H_

#include "uefi/SystemTable.h"

#define EFI_LOADED_IMAGE_PROTOCOL_REVISION 0x1000

typedef struct {
  UINT32 Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  EFI_HANDLE DeviceHandle;
  EFI_DEVICE_PATH_PROTOCOL *FilePath;
  VOID *Reserved;
  UINT32 LoadOptionsSize;
  VOID *LoadOptions;
  VOID *ImageBase;
  UINT64 ImageSize;
  EFI_MEMORY_TYPE ImageCodeType;
  EFI_MEMORY_TYPE ImageDataType;
  EFI_STATUS(EFIAPI *Unload)(IN EFI_HANDLE ImageHandle);
} EFI_LOADED_IMAGE_PROTOCOL;

#endif  // UEFI_LOADED_IMAGE_H_
