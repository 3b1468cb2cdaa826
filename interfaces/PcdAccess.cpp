#include "interfaces/PcdAccess.h"

#include "driver/ImageState.h"
#include "uefi/StandardGuids.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

// Stand-ins for a configuration protocol that is not there. Callers call through what the
// accessors return without checking it, so a missing protocol must not become a call through a
// null pointer: every item then reads as zero (its automatic setting) and no write is stored.
template <typename Value>
Value EFIAPI NoItem(UINTN) {
  return Value{};
}
template <typename Value>
Value EFIAPI NoItemEx(CONST EFI_GUID *, UINTN) {
  return Value{};
}
template <typename Value>
EFI_STATUS EFIAPI NotStored(UINTN, Value) {
  return EFI_NOT_FOUND;
}
template <typename Value>
EFI_STATUS EFIAPI NotStoredEx(CONST EFI_GUID *, UINTN, Value) {
  return EFI_NOT_FOUND;
}
EFI_STATUS EFIAPI NoPointerStored(UINTN, UINTN *, VOID *) { return EFI_NOT_FOUND; }
EFI_STATUS EFIAPI NoPointerStoredEx(CONST EFI_GUID *, UINTN, UINTN *, VOID *) { return EFI_NOT_FOUND; }
template <typename Callback>
EFI_STATUS EFIAPI NoCallback(CONST EFI_GUID *, UINTN, Callback) {
  return EFI_NOT_FOUND;
}
EFI_STATUS EFIAPI NoNextToken(CONST EFI_GUID *, UINTN *) { return EFI_NOT_FOUND; }
EFI_STATUS EFIAPI NoNextTokenSpace(CONST EFI_GUID **) { return EFI_NOT_FOUND; }
VOID EFIAPI NoSku(UINTN) {}

const PCD_PROTOCOL kAbsentPcd = {
    .SetSku = NoSku,
    .Get8 = NoItem<UINT8>,
    .Get16 = NoItem<UINT16>,
    .Get32 = NoItem<UINT32>,
    .Get64 = NoItem<UINT64>,
    .GetPtr = NoItem<VOID *>,
    .GetBool = NoItem<BOOLEAN>,
    .GetSize = NoItem<UINTN>,
    .Get8Ex = NoItemEx<UINT8>,
    .Get16Ex = NoItemEx<UINT16>,
    .Get32Ex = NoItemEx<UINT32>,
    .Get64Ex = NoItemEx<UINT64>,
    .GetPtrEx = NoItemEx<VOID *>,
    .GetBoolEx = NoItemEx<BOOLEAN>,
    .GetSizeEx = NoItemEx<UINTN>,
    .Set8 = NotStored<UINT8>,
    .Set16 = NotStored<UINT16>,
    .Set32 = NotStored<UINT32>,
    .Set64 = NotStored<UINT64>,
    .SetPtr = NoPointerStored,
    .SetBool = NotStored<BOOLEAN>,
    .Set8Ex = NotStoredEx<UINT8>,
    .Set16Ex = NotStoredEx<UINT16>,
    .Set32Ex = NotStoredEx<UINT32>,
    .Set64Ex = NotStoredEx<UINT64>,
    .SetPtrEx = NoPointerStoredEx,
    .SetBoolEx = NotStoredEx<BOOLEAN>,
    .CallbackOnSet = NoCallback<PCD_PROTOCOL_CALLBACK>,
    .CancelCallback = NoCallback<PCD_PROTOCOL_CALLBACK>,
    .GetNextToken = NoNextToken,
    .GetNextTokenSpace = NoNextTokenSpace,
};

const EFI_PCD_PROTOCOL kAbsentPiPcd = {
    .SetSku = NoSku,
    .Get8 = NoItemEx<UINT8>,
    .Get16 = NoItemEx<UINT16>,
    .Get32 = NoItemEx<UINT32>,
    .Get64 = NoItemEx<UINT64>,
    .GetPtr = NoItemEx<VOID *>,
    .GetBool = NoItemEx<BOOLEAN>,
    .GetSize = NoItemEx<UINTN>,
    .Set8 = NotStoredEx<UINT8>,
    .Set16 = NotStoredEx<UINT16>,
    .Set32 = NotStoredEx<UINT32>,
    .Set64 = NotStoredEx<UINT64>,
    .SetPtr = NoPointerStoredEx,
    .SetBool = NotStoredEx<BOOLEAN>,
    .CallbackOnSet = NoCallback<EFI_PCD_PROTOCOL_CALLBACK>,
    .CancelCallback = NoCallback<EFI_PCD_PROTOCOL_CALLBACK>,
    .GetNextToken = NoNextToken,
    .GetNextTokenSpace = NoNextTokenSpace,
};

}  // namespace

// A missing protocol is not cached, so that one installed later is found by the next call.
PCD_PROTOCOL *GetPcdProtocol() {
  if (gImage.Library.Pcd == nullptr) {
    VOID *Interface = nullptr;
    gBS->LocateProtocol(&gPcdProtocolGuid, nullptr, &Interface);
    gImage.Library.Pcd = static_cast<PCD_PROTOCOL *>(Interface);
  }
  return gImage.Library.Pcd != nullptr ? gImage.Library.Pcd : const_cast<PCD_PROTOCOL *>(&kAbsentPcd);
}

EFI_PCD_PROTOCOL *GetPiPcdProtocol() {
  if (gImage.Library.PiPcd == nullptr) {
    VOID *Interface = nullptr;
    gBS->LocateProtocol(&gEfiPcdProtocolGuid, nullptr, &Interface);
    gImage.Library.PiPcd = static_cast<EFI_PCD_PROTOCOL *>(Interface);
  }
  return gImage.Library.PiPcd != nullptr ? gImage.Library.PiPcd : const_cast<EFI_PCD_PROTOCOL *>(&kAbsentPiPcd);
}

}  // namespace CCX_IMAGE_NAMESPACE
