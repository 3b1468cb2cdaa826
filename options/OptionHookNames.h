// What each option hook number the driver raises stands for, for reports and messages. The
// numbers come from their definitions beside the hook dispatch and the option service's record.
#ifndef OPTIONS_OPTION_HOOK_NAMES_H_
#define OPTIONS_OPTION_HOOK_NAMES_H_

#include "interfaces/ZrbOptionHook.h"
#include "options/OptionHooks.h"

namespace CCX_IMAGE_NAMESPACE {

// Null for a number the driver never raises.
constexpr const char *KtxHookMeaning(UINT32 HookId) {
  switch (HookId) {
    case KTX_HOOK_END_OF_INIT: return "end of initialization: configuration tokens from options";
    case KTX_HOOK_PER_CORE_INIT: return "per-core initialization with MP services";
    case KTX_HOOK_OVERCLOCKING: return "overclocking: custom P-state 0";
    case KTX_HOOK_READY_TO_BOOT: return "ready to boot";
    case ZRB_HOOK_FETCH_NV_TABLE: return "option NV table fetch";
    default: return nullptr;
  }
}

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // OPTIONS_OPTION_HOOK_NAMES_H_
