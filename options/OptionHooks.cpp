#include "options/OptionHooks.h"

namespace CCX_IMAGE_NAMESPACE {

// Hook dispatch is not built yet: every hook reports that nobody handled it.
UINT32 KtxHookFunc(UINT32 HookId, VOID *Data) { return 4; }

}  // namespace CCX_IMAGE_NAMESPACE
