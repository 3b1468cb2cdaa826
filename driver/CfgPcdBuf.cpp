// Test-point and fatal-stop switches. They are only switched on when both PCD protocols are
// present; otherwise the record stays zero and test points and fatal stops are off for the run.
#include "driver/DriverEntry.h"

#include "arch/Memory.h"
#include "debug/DebugPrint.h"
#include "driver/ImageState.h"
#include "interfaces/PcdAccess.h"
#include "uefi/StandardGuids.h"

namespace CCX_IMAGE_NAMESPACE {

VOID QorvexCfgPcdBufLibDxeConstructor() {
  TEST_POINT_CONFIG &Config = gImage.Library.TestPointConfig;
  ZeroMemory(&Config, sizeof(Config));

  VOID *Interface = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(&gPcdProtocolGuid, nullptr, &Interface);
  if (EFI_ERROR(Status)) {
    PrintDebugMessage(DEBUG_ERROR, "[%a] LocateProtocol: gPcdProtocolGuid, Status: %r\n",
                      "QorvexCfgPcdBufLibDxeConstructor", Status);
    return;
  }
  Status = gBS->LocateProtocol(&gEfiPcdProtocolGuid, nullptr, &Interface);
  if (EFI_ERROR(Status)) {
    PrintDebugMessage(DEBUG_ERROR, "[%a] LocateProtocol: gEfiPcdProtocolGuid, Status: %r\n",
                      "QorvexCfgPcdBufLibDxeConstructor", Status);
    return;
  }

  Config.TestPointPortEnable = 1;
  Config.Reserved1 = 0;
  Config.TestPointPortWidth = 3;
  Config.Reserved2 = 0x0080;
  Config.FatalStopEnable = 1;
  Config.TestPointMirrorCall = 0;
  Config.TestPointMirrorEnable = 0;
  Config.TestPointMirrorSelector = 2;
  Config.TestPointMirrorFallback = 2;
  Config.Reserved3 = 2;
  Config.Reserved4 = 2;
  Config.TestPointMirrorTag = 0x03E30600;
  Config.Reserved5 = 0;
  Config.CfgPcdBufField17 = GetPcdProtocol()->Get32(PcdCfgPcdBufField17);
  Config.CfgPcdBufField21 = GetPcdProtocol()->Get32(PcdCfgPcdBufField21);
  Config.Reserved6 = 0x02B0;
}

}  // namespace CCX_IMAGE_NAMESPACE
