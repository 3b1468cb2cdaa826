#include "options/NvTableWalk.h"

#include "interfaces/ZrbOptionHook.h"
#include "options/OptionHooks.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

// The table is packed and byte-aligned, so multi-byte fields are assembled byte by byte.
UINT64 ReadLittleEndian(const UINT8 *Bytes, UINTN Size) {
  UINT64 Value = 0;
  for (UINTN Index = 0; Index < Size; Index++) {
    Value |= static_cast<UINT64>(Bytes[Index]) << (8 * Index);
  }
  return Value;
}

}  // namespace

UINT32 KtxFindNvValue(const UINT8 *Table, UINTN TableSize, UINT16 OptionId, UINT64 *Value) {
  UINTN Offset = ZRB_NV_TABLE_HEADER_SIZE;
  while (Offset <= TableSize && TableSize - Offset >= sizeof(UINT16)) {
    const UINT16 EntryId = static_cast<UINT16>(ReadLittleEndian(Table + Offset, sizeof(UINT16)));
    if (EntryId == ZRB_NV_OPTION_END) {
      return KTX_NOT_FOUND;
    }
    // An entry cut short by the end of the table ends the walk like a missing end mark.
    if (TableSize - Offset < sizeof(ZRB_NV_ENTRY_HEADER)) {
      return KTX_NOT_FOUND;
    }
    const UINTN ValueSize = ZrbNvValueSize(Table[Offset + offsetof(ZRB_NV_ENTRY_HEADER, Attributes)]);
    const UINTN EntrySize = sizeof(ZRB_NV_ENTRY_HEADER) + ValueSize;
    if (TableSize - Offset < EntrySize) {
      return KTX_NOT_FOUND;
    }
    if (EntryId == OptionId) {
      *Value = ReadLittleEndian(Table + Offset + sizeof(ZRB_NV_ENTRY_HEADER), ValueSize);
      return KTX_SUCCESS;
    }
    Offset += EntrySize;
  }
  return KTX_NOT_FOUND;
}

}  // namespace CCX_IMAGE_NAMESPACE
