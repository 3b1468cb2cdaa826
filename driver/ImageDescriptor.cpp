#include "driver/ImageDescriptor.h"

#include "driver/DriverEntry.h"
#include "driver/ImageState.h"

#define CCX_PASTE_(A, B) A##B
#define CCX_PASTE(A, B) CCX_PASTE_(A, B)
#define CCX_STRINGIFY_(A) #A
#define CCX_STRINGIFY(A) CCX_STRINGIFY_(A)

extern "C" const CCX_DRIVER_IMAGE CCX_PASTE(CCX_IMAGE_NAMESPACE, Descriptor) = {
    CCX_STRINGIFY(CCX_IMAGE_NAMESPACE),
    &CCX_IMAGE_NAMESPACE::ImageLoad,
    &CCX_IMAGE_NAMESPACE::CcxRellDxeEntryPoint,
    &CCX_IMAGE_NAMESPACE::CcxLibraryStartup,
};
