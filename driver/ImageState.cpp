#include "driver/ImageState.h"

namespace CCX_IMAGE_NAMESPACE {

// Constant-initialized from the default member initializers: no code runs at load.
CCX_IMAGE_STATE gImage;

VOID ImageLoad() { gImage = CCX_IMAGE_STATE{}; }

}  // namespace CCX_IMAGE_NAMESPACE
