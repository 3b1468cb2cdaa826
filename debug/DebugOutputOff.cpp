#include "debug/DebugOutputSettings.h"

namespace CCX_IMAGE_NAMESPACE {
const BOOLEAN DebugOutputEnabled = FALSE;
}
