#include "driver/HobList.h"

#include "driver/ImageState.h"
#include "uefi/StandardGuids.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINTN kHobAlignment = 8;

// The bytes a walk may read: from the list's start to the end of the end-of-list HOB, which the
// handoff table at the head of the list locates. A list that doesn't begin with a well-formed
// handoff table, or whose recorded end lies before it, can't be bounded and counts as empty.
struct HOB_LIST_EXTENT {
  UINTN Start;
  UINTN End;
};

BOOLEAN FindListExtent(HOB_LIST_EXTENT *Extent) {
  const UINTN Start = reinterpret_cast<UINTN>(GetHobList());
  if (Start == 0 || Start % kHobAlignment != 0) {
    return FALSE;
  }
  const auto *Handoff = reinterpret_cast<const EFI_HOB_HANDOFF_INFO_TABLE *>(Start);
  if (Handoff->Header.HobType != EFI_HOB_TYPE_HANDOFF ||
      Handoff->Header.HobLength < sizeof(EFI_HOB_HANDOFF_INFO_TABLE)) {
    return FALSE;
  }
  const UINT64 EndHob = Handoff->EfiEndOfHobList;
  if (EndHob < Start + Handoff->Header.HobLength || EndHob > ~UINT64{0} - sizeof(EFI_HOB_GENERIC_HEADER)) {
    return FALSE;
  }
  Extent->Start = Start;
  Extent->End = static_cast<UINTN>(EndHob) + sizeof(EFI_HOB_GENERIC_HEADER);
  return TRUE;
}

// A HOB's header, read byte by byte: a HOB stepped to by an uneven length lies wherever that
// length put it.
EFI_HOB_GENERIC_HEADER ReadHeader(UINTN At) {
  EFI_HOB_GENERIC_HEADER Header;
  __builtin_memcpy(&Header, reinterpret_cast<const VOID *>(At), sizeof(Header));
  return Header;
}

// Steps from the HOB at At to the first GUID extension HOB named Name. Every HOB is stepped over
// by its length, even one that is not a multiple of 8. The walk ends, as at the end-of-list HOB,
// at a HOB of length 0, which would be visited again and again, and at one that runs past the end
// of the list, which would lead outside it.
EFI_HOB_GUID_TYPE *WalkFrom(UINTN At, UINTN End, const EFI_GUID *Name) {
  while (At <= End && End - At >= sizeof(EFI_HOB_GENERIC_HEADER)) {
    const EFI_HOB_GENERIC_HEADER Header = ReadHeader(At);
    if (Header.HobType == EFI_HOB_TYPE_END_OF_HOB_LIST) {
      return nullptr;
    }
    const UINTN Length = Header.HobLength;
    if (Length == 0 || Length > End - At) {
      return nullptr;
    }
    // A GUID extension HOB too short to hold its name has no name to match.
    if (Header.HobType == EFI_HOB_TYPE_GUID_EXTENSION && Length >= sizeof(EFI_HOB_GUID_TYPE)) {
      if (GuidsEqual(reinterpret_cast<const EFI_GUID *>(At + offsetof(EFI_HOB_GUID_TYPE, Name)), Name)) {
        return reinterpret_cast<EFI_HOB_GUID_TYPE *>(At);
      }
    }
    At += Length;
  }
  return nullptr;
}

}  // namespace

VOID *GetHobList() {
  if (gImage.Library.HobList == nullptr && gST != nullptr) {
    for (UINTN Index = 0; Index < gST->NumberOfTableEntries; Index++) {
      if (GuidsEqual(&gST->ConfigurationTable[Index].VendorGuid, &gEfiHobListGuid)) {
        gImage.Library.HobList = gST->ConfigurationTable[Index].VendorTable;
        break;
      }
    }
  }
  return gImage.Library.HobList;
}

EFI_HOB_GUID_TYPE *HobFindGuid(const EFI_GUID *Name) {
  HOB_LIST_EXTENT Extent;
  if (!FindListExtent(&Extent)) {
    return nullptr;
  }
  return WalkFrom(Extent.Start, Extent.End, Name);
}

EFI_HOB_GUID_TYPE *HobFindNextGuid(const EFI_GUID *Name, const EFI_HOB_GUID_TYPE *Previous) {
  HOB_LIST_EXTENT Extent;
  if (Previous == nullptr || !FindListExtent(&Extent)) {
    return nullptr;
  }
  const UINTN At = reinterpret_cast<UINTN>(Previous);
  return WalkFrom(At + ReadHeader(At).HobLength, Extent.End, Name);
}

const UINT8 *HobGuidData(const EFI_HOB_GUID_TYPE *Hob) {
  return reinterpret_cast<const UINT8 *>(Hob) + sizeof(EFI_HOB_GUID_TYPE);
}

UINTN HobGuidDataSize(const EFI_HOB_GUID_TYPE *Hob) {
  return ReadHeader(reinterpret_cast<UINTN>(Hob)).HobLength - sizeof(EFI_HOB_GUID_TYPE);
}

}  // namespace CCX_IMAGE_NAMESPACE
