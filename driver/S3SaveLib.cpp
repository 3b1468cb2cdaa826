// The S3 save library's start-up, its ready-to-lock watch and its unload. The first driver of the
// boot that runs it creates the shared record, its events and the table; every later driver only
// picks up the record. The hand-off itself is in S3SaveHandOff.cpp.
#include "driver/S3SaveLib.h"

#include "arch/Memory.h"
#include "arch/Msr.h"
#include "arch/Processor.h"
#include "debug/DebugPrint.h"
#include "debug/FatalStop.h"
#include "driver/ImageState.h"
#include "interfaces/PcdAccess.h"
#include "uefi/StandardGuids.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINTN kLargestTableSize = ~UINTN{0} - kS3TableGuardBytes;

template <typename T>
T *AtAddress(UINT64 Address) {
  return reinterpret_cast<T *>(static_cast<UINTN>(Address));
}

VOID *AllocateZeroedRuntimePool(UINTN Size) {
  VOID *Block = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiRuntimeServicesData, Size, &Block)) || Block == nullptr) {
    return nullptr;
  }
  ZeroMemory(Block, Size);
  return Block;
}

// Creates the shared record and the library's two events. The ready-to-lock event is signalled
// once right away so that a ready-to-lock that happened before this driver ran is seen too; its
// notify may run inside that signal, which is why the record is in place first.
EFI_STATUS CreateSharedRecord(PCD_PROTOCOL *Pcd) {
  PrintDebugMessage(TRACE_GENERAL, "QorvexS3LibPrivateData allocation\n");
  auto *Record = static_cast<QorvexS3LibPrivateData *>(AllocateZeroedRuntimePool(sizeof(QorvexS3LibPrivateData)));
  if (Record == nullptr) {
    FatalStop(kFatalS3RecordAllocation);
    PrintDebugMessage(TRACE_GENERAL, "QorvexS3LibPrivateData allocate fail\n");
    return EFI_OUT_OF_RESOURCES;
  }
  Record->Locked = 0;
  Record->Closed = 0;
  Record->Table = 0;
  Pcd->Set64(PcdQorvexS3LibPrivateDataAddress, reinterpret_cast<UINTN>(Record));
  gImage.S3.PrivateData = Record;

  gBS->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, QorvexS3LibReadyToLock, nullptr, &gImage.S3.ReadyToLockEvent);
  if (gImage.S3.ReadyToLockEvent == nullptr) {
    FatalStop(kFatalS3ReadyToLockEvent);
    PrintDebugMessage(TRACE_GENERAL, "QorvexS3SaveLib create BootScriptLock Event fail\n");
    return EFI_UNSUPPORTED;
  }
  gBS->RegisterProtocolNotify(&gEfiDxeSmmReadyToLockProtocolGuid, gImage.S3.ReadyToLockEvent,
                              &gImage.S3.ReadyToLockRegistration);
  gBS->SignalEvent(gImage.S3.ReadyToLockEvent);

  if (EFI_ERROR(gBS->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, QorvexS3SaveCloseTableCallBack, nullptr,
                                   &gEfiEventReadyToBootGuid, &gImage.S3.CloseTableEvent))) {
    FatalStop(kFatalS3CloseTableEvent);
    PrintDebugMessage(TRACE_GENERAL, "QorvexS3SaveLib create CloseTable Event fail\n");
    return EFI_UNSUPPORTED;
  }
  return EFI_SUCCESS;
}

// Creates the table with its header and end guard. A size the pool can't give, including one so
// large that the guard would not fit behind it, leaves no table and writes nothing.
EFI_STATUS CreateTable(PCD_PROTOCOL *Pcd) {
  const UINT64 Size = QorvexS3LibTableSizeFor(Pcd->Get64(PcdQorvexS3LibTableSize));
  PrintDebugMessage(TRACE_GENERAL, "QorvexS3LibTableHeader buffer size = 0x%x\n", Size);
  UINT8 *Table =
      Size > kLargestTableSize ? nullptr : static_cast<UINT8 *>(AllocateZeroedRuntimePool(Size + kS3TableGuardBytes));
  if (Table == nullptr) {
    FatalStop(kFatalS3TableAllocation);
    PrintDebugMessage(TRACE_GENERAL, "QorvexS3LibTableHeader allocate fail\n");
    return EFI_OUT_OF_RESOURCES;
  }
  const UINT64 Address = reinterpret_cast<UINTN>(Table);
  Pcd->Set64(PcdQorvexS3LibTableAddress, Address);
  gImage.S3.PrivateData->Table = Address;
  auto *Header = reinterpret_cast<QorvexS3LibTableHeader *>(Table);
  Header->Signature = QORVEX_S3_TABLE_SIGNATURE;
  Header->Version = QORVEX_S3_TABLE_VERSION;
  Header->TableSize = Size;
  Header->NextOffset = QORVEX_S3_TABLE_FIRST_ENTRY;
  const UINT32 Guard = S3_TABLE_END_GUARD;
  CopyMemory(Table + Size, &Guard, sizeof(Guard));
  gImage.S3.TableSize = Size;
  return EFI_SUCCESS;
}

}  // namespace

UINT64 QorvexS3LibTableSizeFor(UINT64 Requested) {
  return Requested < QORVEX_S3_TABLE_MIN_SIZE ? QORVEX_S3_TABLE_MIN_SIZE : Requested;
}

QorvexS3LibPrivateData *QorvexS3LibRecord() { return gImage.S3.PrivateData; }

EFI_STATUS QorvexS3LibInit() {
  PCD_PROTOCOL *Pcd = GetPcdProtocol();
  const UINT64 Shared = Pcd->Get64(PcdQorvexS3LibPrivateDataAddress);
  if (!Msr::MmioCfgBase::Enable::IsSet(AsmReadMsr64(Msr::MmioCfgBase::Number))) {
    FatalStop(kFatalS3NoPciConfigWindow);
  }
  if (Shared == 0) {
    const EFI_STATUS Status = CreateSharedRecord(Pcd);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  } else {
    gImage.S3.PrivateData = AtAddress<QorvexS3LibPrivateData>(Shared);
  }
  if (Pcd->Get64(PcdQorvexS3LibTableAddress) != 0) {
    return EFI_SUCCESS;
  }
  return CreateTable(Pcd);
}

VOID EFIAPI QorvexS3LibReadyToLock(EFI_EVENT Event, VOID *Context) {
  VOID *Interface = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gEfiDxeSmmReadyToLockProtocolGuid, nullptr, &Interface))) {
    return;
  }
  gBS->CloseEvent(Event);
  if (Event == gImage.S3.ReadyToLockEvent) {
    gImage.S3.ReadyToLockEvent = nullptr;
  }
  gImage.S3.PrivateData->Locked = 1;
}

VOID QorvexS3LibUnload() {
  if (gImage.S3.ReadyToLockEvent != nullptr && EFI_ERROR(gBS->CloseEvent(gImage.S3.ReadyToLockEvent))) {
    FatalStop(kFatalS3ReadyToLockClose);
  }
  if (gImage.S3.CloseTableEvent != nullptr && EFI_ERROR(gBS->CloseEvent(gImage.S3.CloseTableEvent))) {
    FatalStop(kFatalS3CloseTableClose);
  }
}

}  // namespace CCX_IMAGE_NAMESPACE
