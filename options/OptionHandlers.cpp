#include "options/OptionHandlers.h"

#include "options/OptionHooks.h"

namespace CCX_IMAGE_NAMESPACE {

// The two handlers are not built yet. Until they are, each reports that it did not handle its
// hook, so the dispatch passes the hook on to the option service as for a hook without a handler.
UINT32 EFIAPI CcxKtxTokensFromOptions(UINT32 HookId, VOID *Data, VOID *Context) { return KTX_NOT_HANDLED; }
UINT32 EFIAPI CcxRellTavKtxDxeCustomPstates(UINT32 HookId, VOID *Data, VOID *Context) { return KTX_NOT_HANDLED; }

}  // namespace CCX_IMAGE_NAMESPACE
