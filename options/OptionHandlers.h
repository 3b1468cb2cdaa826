// The local handlers of the hook table: hook 0x02 copies setup options and configuration items
// into configuration tokens, hook 0x11 applies the custom P-state 0 of the overclocking options.
#ifndef OPTIONS_OPTION_HANDLERS_H_
#define OPTIONS_OPTION_HANDLERS_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

UINT32 EFIAPI CcxKtxTokensFromOptions(UINT32 HookId, VOID *Data, VOID *Context);
UINT32 EFIAPI CcxRellTavKtxDxeCustomPstates(UINT32 HookId, VOID *Data, VOID *Context);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // OPTIONS_OPTION_HANDLERS_H_
