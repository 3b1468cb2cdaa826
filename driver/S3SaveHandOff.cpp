// The S3 table's hand-off at ready-to-boot: the table is checked, its entry list ended, and the
// SMM side is given the shared record's address through the SMM communication protocol. The DXE
// copy of the table is given back once SMM has it. A table that fails its check is never handed
// over and never written to.
#include "arch/Memory.h"
#include "debug/DebugPrint.h"
#include "debug/FatalStop.h"
#include "driver/ImageState.h"
#include "driver/S3SaveLib.h"
#include "interfaces/PcdAccess.h"
#include "interfaces/QorvexGuids.h"
#include "uefi/SmmCommunication.h"
#include "uefi/StandardGuids.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

UINT8 *TableOf(const QorvexS3LibPrivateData *Record) {
  return Record == nullptr ? nullptr : reinterpret_cast<UINT8 *>(static_cast<UINTN>(Record->Table));
}

// The size the table was made with: this driver's own record of it, or, when another driver made
// it, the size every driver derives from the same item.
UINT64 CreatedTableSize() {
  return gImage.S3.TableSize != 0 ? gImage.S3.TableSize
                                  : QorvexS3LibTableSizeFor(GetPcdProtocol()->Get64(PcdQorvexS3LibTableSize));
}

UINT32 TableCheckFails(UINT32 Code, const CHAR8 *Message) {
  FatalStop(Code);
  PrintDebugMessage(TRACE_GENERAL, Message);
  return S3_CHECK_BAD;
}

}  // namespace

// The header words are written by every driver that adds entries, so none of them is trusted to
// lead outside the table: the end guard is looked for only where the table was made to end, and
// the end mark's two bytes must lie past the header and inside the block the table was made in,
// which holds the guard's four bytes behind the table's size (the mark may cover the guard, which
// has been checked by then).
UINT32 QorvexS3LibCheckTable() {
  UINT8 *Table = TableOf(gImage.S3.PrivateData);
  const auto *Header = reinterpret_cast<const QorvexS3LibTableHeader *>(Table);
  if (Header == nullptr || Header->Signature != QORVEX_S3_TABLE_SIGNATURE) {
    return TableCheckFails(kFatalS3Signature, "QorvexS3Lib table Signature check fail\n");
  }
  const UINT64 Size = Header->TableSize;
  UINT32 Guard = 0;
  if (Size == CreatedTableSize()) {
    CopyMemory(&Guard, Table + Size, sizeof(Guard));
  }
  if (Guard != S3_TABLE_END_GUARD) {
    return TableCheckFails(kFatalS3Boundary, "QorvexS3Lib table boundary check fail\n");
  }
  const UINT64 Next = Header->NextOffset;
  if (Next < QORVEX_S3_TABLE_FIRST_ENTRY || Next > Size + kS3TableGuardBytes - sizeof(UINT16)) {
    return TableCheckFails(kFatalS3NextOffset, "QorvexS3Lib table NextOffset check fail\n");
  }
  return S3_CHECK_GOOD;
}

VOID EFIAPI QorvexS3SaveCloseTableCallBack(EFI_EVENT Event, VOID *Context) {
  gBS->CloseEvent(Event);
  if (Event == gImage.S3.CloseTableEvent) {
    gImage.S3.CloseTableEvent = nullptr;
  }
  PrintDebugMessage(TRACE_GENERAL, "QorvexS3SaveCloseTableCallBack\n");
  QorvexS3LibPrivateData *Record = gImage.S3.PrivateData;
  UINT8 *Table = TableOf(Record);
  if (Table == nullptr) {
    PrintDebugMessage(TRACE_GENERAL, "mQorvexS3LibPrivateData is NULL\n");
    return;
  }
  if (QorvexS3LibCheckTable() != S3_CHECK_GOOD) {
    return;
  }
  const UINT16 ListEnd = QORVEX_S3_TABLE_LIST_END;
  CopyMemory(Table + reinterpret_cast<const QorvexS3LibTableHeader *>(Table)->NextOffset, &ListEnd, sizeof(ListEnd));

  const UINT64 BufferAddress = GetPiPcdProtocol()->Get64(&gQorvexS3SaveTokenSpaceGuid, PcdQorvexS3SmmCommBufferAddress);
  if (BufferAddress == 0) {
    FatalStop(kFatalS3NoCommBuffer);
    return;
  }
  auto *Message = reinterpret_cast<QORVEX_S3_SAVE_HANDOFF_MESSAGE *>(static_cast<UINTN>(BufferAddress));
  ZeroMemory(Message, sizeof(*Message));
  CopyMemory(&Message->HeaderGuid, &gQorvexS3SaveSmmCommunicationGuid, sizeof(EFI_GUID));
  Message->MessageLength = QORVEX_S3_HANDOFF_MESSAGE_LENGTH;
  Message->Command = QORVEX_S3_HANDOFF_COMMAND_SAVE_TABLE;
  Message->PrivateDataAddress = reinterpret_cast<UINTN>(Record);

  EFI_SMM_COMMUNICATION_PROTOCOL *Communication = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gEfiSmmCommunicationProtocolGuid, nullptr,
                                    reinterpret_cast<VOID **>(&Communication)))) {
    FatalStop(kFatalS3NoSmmCommunication);
  }
  if (Communication == nullptr) {
    PrintDebugMessage(TRACE_GENERAL, "QorvexS3SaveLib locate SmmCommunicationProtocol fail \n");
    return;
  }
  UINTN Size = sizeof(*Message);
  Communication->Communicate(Communication, Message, &Size);
  // SMM has its copy now. The record keeps the old table address for whoever reads it later.
  Record->Closed = 1;
  gBS->FreePool(Table);
}

}  // namespace CCX_IMAGE_NAMESPACE
