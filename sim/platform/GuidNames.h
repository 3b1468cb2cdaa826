// Readable names of the GUIDs a report shows: the standard ones and the platform's own.
#ifndef SIM_PLATFORM_GUID_NAMES_H_
#define SIM_PLATFORM_GUID_NAMES_H_

#include <string>

#include "uefi/Base.h"

namespace sim {

// The GUID's name ("gEfiMpServiceProtocolGuid"), or its registry form when it has none here.
std::string GuidName(const EFI_GUID &Guid);

}  // namespace sim

#endif  // SIM_PLATFORM_GUID_NAMES_H_
