#include "sim/uefi/Guid.h"

#include <cstdio>
#include <cstring>

namespace sim {

bool SameGuid(const EFI_GUID &a, const EFI_GUID &b) { return std::memcmp(&a, &b, sizeof(EFI_GUID)) == 0; }

bool GuidLess::operator()(const EFI_GUID &a, const EFI_GUID &b) const {
  return std::memcmp(&a, &b, sizeof(EFI_GUID)) < 0;
}

std::string GuidToString(const EFI_GUID &guid) {
  char text[40];
  std::snprintf(text, sizeof(text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", guid.Data1, guid.Data2,
                guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                guid.Data4[6], guid.Data4[7]);
  return text;
}

namespace {

std::optional<uint64_t> ParseHexField(std::string_view text) {
  if (text.empty() || text.size() > 16) {
    return std::nullopt;
  }
  uint64_t value = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = (value << 4) | digit;
  }
  return value;
}

}  // namespace

std::optional<EFI_GUID> ParseGuid(std::string_view text) {
  // Field widths of the registry form; every field must be exactly this wide.
  static constexpr size_t kWidths[] = {8, 4, 4, 4, 12};
  uint64_t fields[5];
  size_t position = 0;
  for (size_t index = 0; index < 5; index++) {
    if (index > 0) {
      if (position >= text.size() || text[position] != '-') {
        return std::nullopt;
      }
      position++;
    }
    if (position + kWidths[index] > text.size()) {
      return std::nullopt;
    }
    std::optional<uint64_t> value = ParseHexField(text.substr(position, kWidths[index]));
    if (!value) {
      return std::nullopt;
    }
    fields[index] = *value;
    position += kWidths[index];
  }
  if (position != text.size()) {
    return std::nullopt;
  }
  EFI_GUID guid;
  guid.Data1 = static_cast<UINT32>(fields[0]);
  guid.Data2 = static_cast<UINT16>(fields[1]);
  guid.Data3 = static_cast<UINT16>(fields[2]);
  guid.Data4[0] = static_cast<UINT8>(fields[3] >> 8);
  guid.Data4[1] = static_cast<UINT8>(fields[3]);
  for (int byte = 0; byte < 6; byte++) {
    guid.Data4[2 + byte] = static_cast<UINT8>(fields[4] >> (8 * (5 - byte)));
  }
  return guid;
}

}  // namespace sim
