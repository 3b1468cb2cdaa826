// The S3 save library: the shared resume table every driver of the boot fills, and its hand-off
// to SMM at ready-to-boot.
#ifndef DRIVER_S3_SAVE_LIB_H_
#define DRIVER_S3_SAVE_LIB_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

EFI_STATUS QorvexS3LibInit();
// Closes the library's two events, if this driver created them.
VOID QorvexS3LibUnload();
UINT32 QorvexS3LibCheckTable();
VOID EFIAPI QorvexS3LibReadyToLock(EFI_EVENT Event, VOID *Context);
VOID EFIAPI QorvexS3SaveCloseTableCallBack(EFI_EVENT Event, VOID *Context);

constexpr UINT32 kFatalS3ReadyToLockClose = 0xA0896;
constexpr UINT32 kFatalS3CloseTableClose = 0xA0901;

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DRIVER_S3_SAVE_LIB_H_
