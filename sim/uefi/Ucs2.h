// The UCS-2 strings that cross the firmware tables (variable names, reset descriptions): bounded
// length and conversion for messages.
#ifndef SIM_UEFI_UCS2_H_
#define SIM_UEFI_UCS2_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "uefi/Base.h"

namespace sim {

// Number of code units before the terminator, reading at most maxUnits units; nothing when no
// terminator is found within them, so that an unterminated name is refused instead of overrun.
std::optional<size_t> Ucs2Length(const CHAR16 *text, size_t maxUnits);

// UTF-8 for messages and reports; code units that are lone surrogates become '?'.
std::string Ucs2ToUtf8(std::u16string_view text);

}  // namespace sim

#endif  // SIM_UEFI_UCS2_H_
