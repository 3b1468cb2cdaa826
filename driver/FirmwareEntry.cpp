// The entry symbol of the firmware image. The loader has already placed every global at its
// load-time value, so the entry goes straight to the driver.
#include "driver/DriverEntry.h"

extern "C" EFI_STATUS EFIAPI CcxRellDxeImageEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  return CCX_IMAGE_NAMESPACE::CcxRellDxeEntryPoint(ImageHandle, SystemTable);
}
