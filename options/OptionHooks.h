// Option hooks: fixed points where platform setup options act, and the option NV table.
#ifndef OPTIONS_OPTION_HOOKS_H_
#define OPTIONS_OPTION_HOOKS_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

constexpr UINT32 KTX_HOOK_END_OF_INIT = 0x02;
constexpr UINT32 KTX_HOOK_PER_CORE_INIT = 0x03;
constexpr UINT32 KTX_HOOK_OVERCLOCKING = 0x11;
constexpr UINT32 KTX_HOOK_READY_TO_BOOT = 0x14;

// Results of the option library. Two meanings share a value where the hook dispatch and the table
// lookup report different things with the same code.
constexpr UINT32 KTX_SUCCESS = 0;
constexpr UINT32 KTX_NOT_FOUND = 1;
constexpr UINT32 KTX_NOT_HANDLED = 1;
constexpr UINT32 KTX_OVERRUN = 2;
constexpr UINT32 KTX_SERVICE_FAILURE = 4;
constexpr UINT32 KTX_HANDLED_LOCALLY = 4;
constexpr UINT32 KTX_FETCH_FAILED = 7;

// Offers a hook to the driver's local handlers, and to the option service when none of them
// takes it. Data is not used. The result is the option service's (0 or 4) when the hook went
// there, 4 when local handlers took it and all returned 0, else the last non-zero status a local
// handler returned.
UINT32 KtxHookFunc(UINT32 HookId, VOID *Data);

// Passes a hook to the option service, located on every call: 0 when the service accepts it,
// 4 when the service is missing or returns an error.
UINT32 KtxCallOptionService(UINT32 HookId, VOID *Params);

// Reads an option from the option NV table, fetching the table from the option service into the
// shared heap the first time. 0 found (*Value zero-extended), 1 not found or an empty table,
// 2 the service wrote past the room it was given, 7 the fetch failed, or the heap's result when
// the table's buffer cannot be allocated.
UINT32 GetKtxNvValue(UINT16 OptionId, UINT64 *Value);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // OPTIONS_OPTION_HOOKS_H_
