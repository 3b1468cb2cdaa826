#include "arch/BootPool.h"

#include "driver/ImageState.h"

namespace CCX_IMAGE_NAMESPACE {

VOID *AllocateBootPool(UINTN Size) {
  VOID *Buffer = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, Size, &Buffer))) {
    return nullptr;
  }
  return Buffer;
}

}  // namespace CCX_IMAGE_NAMESPACE
