// The initialization sequence: locate the fabric services, set up SNP, arrange the down-core check
// and the per-core work, arm the boot events, install the service protocols, record the values
// other drivers read, and raise the end-of-initialization hook.
#include "arch/Cpuid.h"
#include "arch/Msr.h"
#include "arch/Processor.h"
#include "debug/DebugPrint.h"
#include "debug/FatalStop.h"
#include "debug/TestPointCodes.h"
#include "driver/BootEvents.h"
#include "driver/DriverEntry.h"
#include "driver/Heap.h"
#include "driver/ImageState.h"
#include "driver/MpServicesWork.h"
#include "driver/SnpRmp.h"
#include "interfaces/PcdAccess.h"
#include "interfaces/QorvexGuids.h"
#include "options/OptionHooks.h"
#include "services/ServiceProtocols.h"
#include "uefi/StandardGuids.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kFatalDownCoreEventCreate = 0x30910235;
constexpr UINT32 kFatalDownCoreEventRegister = 0x30910243;
constexpr UINT8 kHeapPersistenceInitValue = 4;

// Keeps the bits of the SNP MSR that the driver does not own and ORs the reverse-map table bound in.
VOID MergeRmpBound(UINT32 MsrIndex, UINT64 Bound) {
  const UINT64 Value = (AsmReadMsr64(MsrIndex) & Msr::SnpMsrKeepMask) | Bound;
  AsmWriteMsr64(MsrIndex, Value);
}

VOID SetUpSecureNestedPaging() {
  UINT32 Eax = 0;
  Cpuid(CpuidLeaf::EncryptedMemory::Leaf, &Eax, nullptr, nullptr, nullptr);
  if (!CpuidLeaf::EncryptedMemory::EaxSnp::IsSet(Eax)) {
    gImage.Init.SnpCapable = 0;
    return;
  }
  gImage.Init.SnpCapable = 1;
  const UINT8 Mode = GetPcdProtocol()->Get8(PcdCcxSnpMode);
  if (Mode == 0) {
    return;
  }
  CcxRellInitSnpRmp(Mode);
  // The bounds are merged even when the table could not be set up; they then hold what was left.
  MergeRmpBound(Msr::RmpBase::Number, gImage.Init.RmpBase);
  MergeRmpBound(Msr::RmpEnd::Number, gImage.Init.RmpEnd);
}

EFI_STATUS ArrangeDownCoreCheck(EFI_STATUS Result) {
  VOID *Interface = nullptr;
  if (!EFI_ERROR(gBS->LocateProtocol(&gEfiVariableWriteArchProtocolGuid, nullptr, &Interface))) {
    CcxCheckDownCoreStatus();
    return Result;
  }
  EFI_STATUS Status = gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, CcxDownCoreNotify, nullptr, nullptr,
                                         &gImage.Init.DownCoreEvent);
  if (Status != EFI_SUCCESS) {
    FatalStop(kFatalDownCoreEventCreate);
  }
  Result = LargerStatus(Result, Status);
  Status = gBS->RegisterProtocolNotify(&gEfiVariableWriteArchProtocolGuid, gImage.Init.DownCoreEvent,
                                       &gImage.Init.DownCoreRegistration);
  if (Status != EFI_SUCCESS) {
    FatalStop(kFatalDownCoreEventRegister);
  }
  return LargerStatus(Result, Status);
}

EFI_STATUS ArrangePerCoreWork(EFI_STATUS Result) {
  VOID *Interface = nullptr;
  // Processors left without their part of the work are warned about, and the services that rely
  // on it answer errors; the entry's status stays out of it, as it must when MP services arrive
  // later. An error there would close the S3 library's events (every driver's resume data lost
  // for one AP that did not start) and have the image unloaded under the protocols it installed.
  if (!EFI_ERROR(gBS->LocateProtocol(&gEfiMpServiceProtocolGuid, nullptr, &Interface))) {
    CcxRellRunPerCoreWork();
    return Result;
  }
  Result = LargerStatus(Result, gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, CcxRellInitWithMpServices, nullptr,
                                                 &gImage.Init.MpEvent));
  return LargerStatus(Result, gBS->RegisterProtocolNotify(&gEfiMpServiceProtocolGuid, gImage.Init.MpEvent,
                                                          &gImage.Init.MpRegistration));
}

EFI_STATUS ArmBootEvents(EFI_STATUS Result) {
  Result = LargerStatus(
      Result, gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, CcxOcTriggerHandler, nullptr, &gImage.Init.OcEvent));
  Result = LargerStatus(Result, gBS->RegisterProtocolNotify(&gQorvexCcxOcTriggerProtocolGuid, gImage.Init.OcEvent,
                                                            &gImage.Init.OcRegistration));
  return LargerStatus(Result, gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_NOTIFY, CcxReadyToBoot, nullptr,
                                                 &gEfiEventReadyToBootGuid, &gImage.Init.ReadyToBootEvent));
}

VOID StoreInitValueForOtherDrivers() {
  HEAP_ALLOCATE_REQUEST Request = {};
  Request.Size = 1;
  Request.Handle = HEAP_HANDLE_INIT_VALUE;
  Request.Persistence = kHeapPersistenceInitValue;
  if (HeapAllocateBuffer(&Request) == HEAP_SUCCESS) {
    *reinterpret_cast<UINT8 *>(static_cast<UINTN>(Request.Buffer)) = GetPcdProtocol()->GetBool(PcdCcxHeapA02BValue);
  }
}

}  // namespace

EFI_STATUS QorvexCcxRellDxeInit(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  TestPoint(TestPointCode::InitEntry);
  PrintDebugMessage(TRACE_CPU, "  QorvexCcxRellDxeInit Entry\n");

  EFI_STATUS Status = gBS->LocateProtocol(&gQorvexFabricNumaServicesProtocolGuid, nullptr,
                                          reinterpret_cast<VOID **>(&gImage.Init.NumaServices));
  if (EFI_ERROR(Status)) {
    return EFI_ABORTED;
  }
  Status = gBS->LocateProtocol(&gQorvexFabricSystemServicesProtocolGuid, nullptr,
                               reinterpret_cast<VOID **>(&gImage.Init.SystemServices));
  if (EFI_ERROR(Status)) {
    return EFI_ABORTED;
  }
  Status = gBS->LocateProtocol(&gQorvexFabricTopologyServicesProtocolGuid, nullptr,
                               reinterpret_cast<VOID **>(&gImage.Init.TopologyServices));
  if (EFI_ERROR(Status)) {
    return EFI_ABORTED;
  }
  EFI_STATUS Result = Status;

  // Only the BSP initializes; any other processor only stores its socket's PPIN.
  if (Msr::ApicBase::Bsp::IsSet(AsmReadMsr64(Msr::ApicBase::Number))) {
    SetUpSecureNestedPaging();
    Result = ArrangeDownCoreCheck(Result);

    // The address-information service is a convenience; its installation never fails the driver.
    EFI_HANDLE InfoHandle = ImageHandle;
    gBS->InstallMultipleProtocolInterfaces(&InfoHandle, &gQorvexCcxAddressInfoProtocolGuid,
                                           const_cast<QORVEX_CCX_ADDRESS_INFO_PROTOCOL *>(&gCcxAddressInfoProtocol),
                                           nullptr);

    EFI_HANDLE MarkerHandle = nullptr;
    Result = LargerStatus(Result, gBS->InstallProtocolInterface(&MarkerHandle, &gQorvexCcxDxeInitMarkerProtocolGuid,
                                                                EFI_NATIVE_INTERFACE, nullptr));

    Result = ArrangePerCoreWork(Result);
    Result = ArmBootEvents(Result);

    for (UINTN Index = 0; Index < kCcxServiceProtocolCount; Index++) {
      EFI_HANDLE ServiceHandle = ImageHandle;
      Result = LargerStatus(Result, gBS->InstallProtocolInterface(&ServiceHandle, gCcxServiceProtocols[Index].Guid,
                                                                  EFI_NATIVE_INTERFACE,
                                                                  const_cast<VOID *>(gCcxServiceProtocols[Index].Record)));
    }

    gImage.Init.CompletionWord = 0;
    TestPoint(TestPointCode::InitCompleteInstalling);
    EFI_HANDLE CompleteHandle = nullptr;
    Result = LargerStatus(Result, gBS->InstallProtocolInterface(&CompleteHandle, &gQorvexCcxDxeInitCompleteProtocolGuid,
                                                                EFI_NATIVE_INTERFACE, &gImage.Init.CompletionWord));
    TestPoint(TestPointCode::InitCompleteInstalled);

    StoreInitValueForOtherDrivers();
    TestPoint(TestPointCode::InitEndOfInitHook);
    KtxHookFunc(KTX_HOOK_END_OF_INIT, nullptr);
  }

  UINTN Socket = 0;
  CcxStorePpin(&Socket);
  TestPoint(TestPointCode::InitExit);
  return Result;
}

}  // namespace CCX_IMAGE_NAMESPACE
