#include "driver/DriverEntry.h"

#include "debug/DebugPrint.h"
#include "driver/Heap.h"
#include "driver/ImageState.h"
#include "driver/ProcessorFamily.h"
#include "driver/S3SaveLib.h"

namespace CCX_IMAGE_NAMESPACE {

VOID EFIAPI CcxLibraryStartup(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  gST = SystemTable;
  gBS = SystemTable->BootServices;
  gRT = SystemTable->RuntimeServices;
  // The S3 library runs before TEST_POINT_CONFIG is filled, so its fatal stops return at once.
  QorvexS3LibInit();
  QorvexCfgPcdBufLibDxeConstructor();
  gImage.Library.HcuMailboxOffset = GetHcuMailboxOffset();
  HeapStartup();
  InitializeDebugOutput();
}

}  // namespace CCX_IMAGE_NAMESPACE
