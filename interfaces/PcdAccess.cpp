#include "interfaces/PcdAccess.h"

#include "driver/ImageState.h"
#include "uefi/StandardGuids.h"

namespace CCX_IMAGE_NAMESPACE {

PCD_PROTOCOL *GetPcdProtocol() {
  if (gImage.Library.Pcd == nullptr) {
    VOID *Interface = nullptr;
    gBS->LocateProtocol(&gPcdProtocolGuid, nullptr, &Interface);
    gImage.Library.Pcd = static_cast<PCD_PROTOCOL *>(Interface);
  }
  return gImage.Library.Pcd;
}

EFI_PCD_PROTOCOL *GetPiPcdProtocol() {
  if (gImage.Library.PiPcd == nullptr) {
    VOID *Interface = nullptr;
    gBS->LocateProtocol(&gEfiPcdProtocolGuid, nullptr, &Interface);
    gImage.Library.PiPcd = static_cast<EFI_PCD_PROTOCOL *>(Interface);
  }
  return gImage.Library.PiPcd;
}

}  // namespace CCX_IMAGE_NAMESPACE
