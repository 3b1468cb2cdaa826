#include "options/HookTable.h"

#include "options/OptionHandlers.h"
#include "options/OptionHooks.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr KTX_HOOK_ENTRY kHookTable[] = {
    {KTX_HOOK_END_OF_INIT, {.Handler = CcxKtxTokensFromOptions}},
    {KTX_HOOK_OVERCLOCKING, {.Handler = CcxRellTavKtxDxeCustomPstates}},
    {KTX_HOOK_TABLE_END, {.EndMark = KTX_HOOK_TABLE_END}},
};

}  // namespace

const KTX_HOOK_HEADER gKtxHookHeader = {KTX_HOOK_SIGNATURE, KTX_HOOK_VERSION, {}, kHookTable};

}  // namespace CCX_IMAGE_NAMESPACE
