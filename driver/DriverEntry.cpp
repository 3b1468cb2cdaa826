#include "driver/DriverEntry.h"

#include "driver/S3SaveLib.h"

namespace CCX_IMAGE_NAMESPACE {

EFI_STATUS EFIAPI CcxRellDxeEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  CcxLibraryStartup(ImageHandle, SystemTable);
  const EFI_STATUS Status = QorvexCcxRellDxeInit(ImageHandle, SystemTable);
  if (EFI_ERROR(Status)) {
    // Protocols already installed stay; only the S3 library's events go.
    QorvexS3LibUnload();
  }
  return Status;
}

}  // namespace CCX_IMAGE_NAMESPACE
