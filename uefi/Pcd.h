// The two platform configuration database protocols: PCD_PROTOCOL (items by token number in the
// default token space) and the PI EFI_PCD_PROTOCOL (items by token-space GUID and token number).
#ifndef UEFI_PCD_H_
#define UEFI_PCD_H_

#include "uefi/Base.h"

typedef VOID(EFIAPI *PCD_PROTOCOL_CALLBACK)(IN CONST EFI_GUID *CallBackGuid, IN UINTN CallBackToken,
                                            IN OUT VOID *TokenData, IN UINTN TokenDataSize);

typedef struct {
  VOID(EFIAPI *SetSku)(IN UINTN SkuId);
  UINT8(EFIAPI *Get8)(IN UINTN TokenNumber);
  UINT16(EFIAPI *Get16)(IN UINTN TokenNumber);
  UINT32(EFIAPI *Get32)(IN UINTN TokenNumber);
  UINT64(EFIAPI *Get64)(IN UINTN TokenNumber);
  VOID *(EFIAPI *GetPtr)(IN UINTN TokenNumber);
  BOOLEAN(EFIAPI *GetBool)(IN UINTN TokenNumber);
  UINTN(EFIAPI *GetSize)(IN UINTN TokenNumber);
  UINT8(EFIAPI *Get8Ex)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber);
  UINT16(EFIAPI *Get16Ex)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber);
  UINT32(EFIAPI *Get32Ex)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber);
  UINT64(EFIAPI *Get64Ex)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber);
  VOID *(EFIAPI *GetPtrEx)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber);
  BOOLEAN(EFIAPI *GetBoolEx)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber);
  UINTN(EFIAPI *GetSizeEx)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber);
  EFI_STATUS(EFIAPI *Set8)(IN UINTN TokenNumber, IN UINT8 Value);
  EFI_STATUS(EFIAPI *Set16)(IN UINTN TokenNumber, IN UINT16 Value);
  EFI_STATUS(EFIAPI *Set32)(IN UINTN TokenNumber, IN UINT32 Value);
  EFI_STATUS(EFIAPI *Set64)(IN UINTN TokenNumber, IN UINT64 Value);
  EFI_STATUS(EFIAPI *SetPtr)(IN UINTN TokenNumber, IN OUT UINTN *SizeOfBuffer, IN VOID *Buffer);
  EFI_STATUS(EFIAPI *SetBool)(IN UINTN TokenNumber, IN BOOLEAN Value);
  EFI_STATUS(EFIAPI *Set8Ex)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber, IN UINT8 Value);
  EFI_STATUS(EFIAPI *Set16Ex)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber, IN UINT16 Value);
  EFI_STATUS(EFIAPI *Set32Ex)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber, IN UINT32 Value);
  EFI_STATUS(EFIAPI *Set64Ex)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber, IN UINT64 Value);
  EFI_STATUS(EFIAPI *SetPtrEx)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber, IN OUT UINTN *SizeOfBuffer,
                               IN VOID *Buffer);
  EFI_STATUS(EFIAPI *SetBoolEx)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber, IN BOOLEAN Value);
  EFI_STATUS(EFIAPI *CallbackOnSet)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber,
                                    IN PCD_PROTOCOL_CALLBACK CallBackFunction);
  EFI_STATUS(EFIAPI *CancelCallback)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber,
                                     IN PCD_PROTOCOL_CALLBACK CallBackFunction);
  EFI_STATUS(EFIAPI *GetNextToken)(IN CONST EFI_GUID *Guid, IN OUT UINTN *TokenNumber);
  EFI_STATUS(EFIAPI *GetNextTokenSpace)(IN OUT CONST EFI_GUID **Guid);
} PCD_PROTOCOL;

typedef VOID(EFIAPI *EFI_PCD_PROTOCOL_CALLBACK)(IN EFI_GUID *Guid, IN UINTN CallBackToken, IN OUT VOID *TokenData,
                                                IN UINTN TokenDataSize);

typedef struct {
  VOID(EFIAPI *SetSku)(IN UINTN SkuId);
  UINT8(EFIAPI *Get8)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber);
  UINT16(EFIAPI *Get16)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber);
  UINT32(EFIAPI *Get32)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber);
  UINT64(EFIAPI *Get64)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber);
  VOID *(EFIAPI *GetPtr)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber);
  BOOLEAN(EFIAPI *GetBool)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber);
  UINTN(EFIAPI *GetSize)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber);
  EFI_STATUS(EFIAPI *Set8)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber, IN UINT8 Value);
  EFI_STATUS(EFIAPI *Set16)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber, IN UINT16 Value);
  EFI_STATUS(EFIAPI *Set32)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber, IN UINT32 Value);
  EFI_STATUS(EFIAPI *Set64)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber, IN UINT64 Value);
  EFI_STATUS(EFIAPI *SetPtr)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber, IN OUT UINTN *SizeOfValue,
                             IN VOID *Buffer);
  EFI_STATUS(EFIAPI *SetBool)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber, IN BOOLEAN Value);
  EFI_STATUS(EFIAPI *CallbackOnSet)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber,
                                    IN EFI_PCD_PROTOCOL_CALLBACK CallBackFunction);
  EFI_STATUS(EFIAPI *CancelCallback)(IN CONST EFI_GUID *Guid, IN UINTN TokenNumber,
                                     IN EFI_PCD_PROTOCOL_CALLBACK CallBackFunction);
  EFI_STATUS(EFIAPI *GetNextToken)(IN CONST EFI_GUID *Guid, IN OUT UINTN *TokenNumber);
  EFI_STATUS(EFIAPI *GetNextTokenSpace)(IN OUT CONST EFI_GUID **Guid);
} EFI_PCD_PROTOCOL;

#endif  // UEFI_PCD_H_
