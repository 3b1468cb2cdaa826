// The hook header and the table of local hook handlers. The header carries a signature and a
// version that every dispatch checks before it trusts the table behind it.
#ifndef OPTIONS_HOOK_TABLE_H_
#define OPTIONS_HOOK_TABLE_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

// A local handler receives the hook number and two null arguments and returns a hook status:
// 0 done, 1 not handled (the hook then goes on to the option service), anything else an outcome
// the dispatch passes back.
typedef UINT32(EFIAPI *KTX_HOOK_HANDLER)(UINT32 HookId, VOID *Data, VOID *Context);

// The terminating entry holds all-ones in its hook number and in its handler slot, so the slot
// is a union: a handler in every other entry, the raw end mark in the last.
struct KTX_HOOK_ENTRY {
  UINT32 HookId;
  union {
    KTX_HOOK_HANDLER Handler;
    UINTN EndMark;
  } Slot;
};
static_assert(sizeof(KTX_HOOK_ENTRY) == 16, "a hook entry is a hook number and a pointer slot");

struct KTX_HOOK_HEADER {
  UINT32 Signature;
  UINT32 Version;
  UINT8 Reserved[24];
  const KTX_HOOK_ENTRY *Table;
};
static_assert(offsetof(KTX_HOOK_HEADER, Table) == 32, "the table pointer follows 24 reserved bytes");

// "$KTX" as its four bytes in memory order, read as a little-endian word.
constexpr UINT32 KTX_HOOK_SIGNATURE = 0x58544B24;
constexpr UINT32 KTX_HOOK_VERSION = 1;
constexpr UINT32 KTX_HOOK_TABLE_END = 0xFFFFFFFF;

// The driver's own header and table.
extern const KTX_HOOK_HEADER gKtxHookHeader;

// The dispatch of KtxHookFunc against a given header: every matching entry in table order, then
// the option service when nothing matched or the handlers left "not handled".
UINT32 KtxDispatchHook(const KTX_HOOK_HEADER *Header, UINT32 HookId);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // OPTIONS_HOOK_TABLE_H_
