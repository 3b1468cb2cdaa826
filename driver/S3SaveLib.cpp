#include "driver/S3SaveLib.h"

#include "debug/FatalStop.h"
#include "driver/ImageState.h"

namespace CCX_IMAGE_NAMESPACE {

// The shared table and its hand-off are not built yet: the library creates nothing.
EFI_STATUS QorvexS3LibInit() { return EFI_SUCCESS; }
UINT32 QorvexS3LibCheckTable() { return 0; }
VOID EFIAPI QorvexS3LibReadyToLock(EFI_EVENT Event, VOID *Context) {}
VOID EFIAPI QorvexS3SaveCloseTableCallBack(EFI_EVENT Event, VOID *Context) {}

VOID QorvexS3LibUnload() {
  if (gImage.S3.ReadyToLockEvent != nullptr && EFI_ERROR(gBS->CloseEvent(gImage.S3.ReadyToLockEvent))) {
    FatalStop(kFatalS3ReadyToLockClose);
  }
  if (gImage.S3.CloseTableEvent != nullptr && EFI_ERROR(gBS->CloseEvent(gImage.S3.CloseTableEvent))) {
    FatalStop(kFatalS3CloseTableClose);
  }
}

}  // namespace CCX_IMAGE_NAMESPACE
