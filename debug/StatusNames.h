// Names of UEFI status codes, as the %r conversion prints them.
#ifndef DEBUG_STATUS_NAMES_H_
#define DEBUG_STATUS_NAMES_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

// The name of a status code from the success/warning and error tables, or null when the tables
// hold no name for it (a success code above 7, an error index of 0 or above 35).
const CHAR8 *StatusCodeName(EFI_STATUS Status);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DEBUG_STATUS_NAMES_H_
