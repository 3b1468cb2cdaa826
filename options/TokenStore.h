// Reads and changes configuration tokens in the ActDb, the token store another component keeps in
// the shared heap. Every call finds the store again; nothing about it is cached.
#ifndef OPTIONS_TOKEN_STORE_H_
#define OPTIONS_TOKEN_STORE_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

// Results of the token operations.
constexpr UINT32 VELTA_SUCCESS = 0;
constexpr UINT32 VELTA_NOT_FOUND = 1;
constexpr UINT32 VELTA_NO_SPACE = 2;
constexpr UINT32 VELTA_NO_STORE = 7;

// Find a token of the 8-bit or the 16-bit table. On success *Index (when not null) is its entry.
// A table whose offset is 0, or whose place or entry count reaches past the store, counts as not
// initialized (VELTA_NOT_FOUND).
UINT32 GetVeltaCfg8(UINT32 Uid, UINT32 *Index);
UINT32 GetVeltaCfg16(UINT32 Uid, UINT32 *Index);
// Change a token's value in place, or append it when it is new and there is room for it.
UINT32 SetVeltaCfg8(UINT32 Uid, UINT8 Value);
UINT32 SetVeltaCfg16(UINT32 Uid, UINT16 Value);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // OPTIONS_TOKEN_STORE_H_
