#include "sim/uefi/Ucs2.h"

namespace sim {

std::optional<size_t> Ucs2Length(const CHAR16 *text, size_t maxUnits) {
  for (size_t index = 0; index < maxUnits; index++) {
    if (text[index] == 0) {
      return index;
    }
  }
  return std::nullopt;
}

std::string Ucs2ToUtf8(std::u16string_view text) {
  std::string result;
  for (char16_t unit : text) {
    if (unit < 0x80) {
      result += static_cast<char>(unit);
    } else if (unit < 0x800) {
      result += static_cast<char>(0xC0 | (unit >> 6));
      result += static_cast<char>(0x80 | (unit & 0x3F));
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      result += '?';
    } else {
      result += static_cast<char>(0xE0 | (unit >> 12));
      result += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
      result += static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  return result;
}

}  // namespace sim
