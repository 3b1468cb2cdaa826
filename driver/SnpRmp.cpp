#include "driver/SnpRmp.h"

namespace CCX_IMAGE_NAMESPACE {

// The reverse-map table is not built yet: the bounds stay 0.
VOID CcxRellInitSnpRmp(UINT8 Mode) {}

}  // namespace CCX_IMAGE_NAMESPACE
