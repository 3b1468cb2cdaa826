// Searching a fetched option NV table for one option. The table comes from another component, so
// the search stays inside the size that component reported, whatever the table's bytes say.
#ifndef OPTIONS_NV_TABLE_WALK_H_
#define OPTIONS_NV_TABLE_WALK_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

// Walks the entries that follow the table's 32-byte header, in order, until the wanted option,
// the end mark, or the first entry that does not lie whole inside TableSize bytes. Returns 0 with
// *Value holding the first matching entry's value (zero-extended), or 1.
UINT32 KtxFindNvValue(const UINT8 *Table, UINTN TableSize, UINT16 OptionId, UINT64 *Value);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // OPTIONS_NV_TABLE_WALK_H_
