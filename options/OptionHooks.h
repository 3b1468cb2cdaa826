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

UINT32 KtxHookFunc(UINT32 HookId, VOID *Data);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // OPTIONS_OPTION_HOOKS_H_
