// GUID handling for the simulator: ordering for containers, equality, and the registry text form
// used in reports and in the variable store file.
#ifndef SIM_UEFI_GUID_H_
#define SIM_UEFI_GUID_H_

#include <optional>
#include <string>
#include <string_view>

#include "uefi/Base.h"

namespace sim {

bool SameGuid(const EFI_GUID &a, const EFI_GUID &b);

// Orders GUIDs by their in-memory bytes, which is all an ordered container needs.
struct GuidLess {
  bool operator()(const EFI_GUID &a, const EFI_GUID &b) const;
};

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" with upper-case digits, Data4 in byte order.
std::string GuidToString(const EFI_GUID &guid);

// Reads the form GuidToString writes (either case); nothing for any other text.
std::optional<EFI_GUID> ParseGuid(std::string_view text);

}  // namespace sim

#endif  // SIM_UEFI_GUID_H_
