// The S3 save library: the shared resume table every driver of the boot fills, and its hand-off
// to SMM at ready-to-boot.
#ifndef DRIVER_S3_SAVE_LIB_H_
#define DRIVER_S3_SAVE_LIB_H_

#include "arch/ImageNamespace.h"
#include "interfaces/S3SaveTable.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

// The first driver of the boot creates the shared record, the events and the table; later
// drivers pick up the record and the table.
EFI_STATUS QorvexS3LibInit();
// Closes the library's two events, if this driver created them.
VOID QorvexS3LibUnload();
// 0 when the table is whole, 7 when its signature, its end guard or its next-entry offset is off.
UINT32 QorvexS3LibCheckTable();
VOID EFIAPI QorvexS3LibReadyToLock(EFI_EVENT Event, VOID *Context);
VOID EFIAPI QorvexS3SaveCloseTableCallBack(EFI_EVENT Event, VOID *Context);

// The table size every driver of the boot derives from the platform's item: never below the
// smallest table.
UINT64 QorvexS3LibTableSizeFor(UINT64 Requested);
// The shared record this driver found or created, or null.
QorvexS3LibPrivateData *QorvexS3LibRecord();

// The end guard's bytes behind the table: the block a table is made in is its size plus these.
constexpr UINTN kS3TableGuardBytes = sizeof(UINT32);

constexpr UINT32 S3_CHECK_GOOD = 0;
constexpr UINT32 S3_CHECK_BAD = 7;

constexpr UINT32 kFatalS3NoPciConfigWindow = 0xA0802;
constexpr UINT32 kFatalS3RecordAllocation = 0xA0808;
constexpr UINT32 kFatalS3ReadyToLockEvent = 0xA0831;
constexpr UINT32 kFatalS3CloseTableEvent = 0xA0849;
constexpr UINT32 kFatalS3TableAllocation = 0xA0862;
constexpr UINT32 kFatalS3Signature = 0xA0630;
constexpr UINT32 kFatalS3Boundary = 0xA0635;
constexpr UINT32 kFatalS3NextOffset = 0xA0640;
constexpr UINT32 kFatalS3NoCommBuffer = 0xA0752;
constexpr UINT32 kFatalS3NoSmmCommunication = 0xA0766;
constexpr UINT32 kFatalS3ReadyToLockClose = 0xA0896;
constexpr UINT32 kFatalS3CloseTableClose = 0xA0901;

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DRIVER_S3_SAVE_LIB_H_
