#include "sim/uefi/StatusNames.h"

#include "sim/HexText.h"

namespace sim {
namespace {

struct NamedStatus {
  uint64_t Status;
  const char *Name;
};

constexpr NamedStatus kNames[] = {
    {0, "EFI_SUCCESS"},
    {0x8000000000000001ULL, "EFI_LOAD_ERROR"},
    {0x8000000000000002ULL, "EFI_INVALID_PARAMETER"},
    {0x8000000000000003ULL, "EFI_UNSUPPORTED"},
    {0x8000000000000004ULL, "EFI_BAD_BUFFER_SIZE"},
    {0x8000000000000005ULL, "EFI_BUFFER_TOO_SMALL"},
    {0x8000000000000006ULL, "EFI_NOT_READY"},
    {0x8000000000000007ULL, "EFI_DEVICE_ERROR"},
    {0x8000000000000008ULL, "EFI_WRITE_PROTECTED"},
    {0x8000000000000009ULL, "EFI_OUT_OF_RESOURCES"},
    {0x800000000000000EULL, "EFI_NOT_FOUND"},
    {0x800000000000000FULL, "EFI_ACCESS_DENIED"},
    {0x8000000000000012ULL, "EFI_TIMEOUT"},
    {0x8000000000000013ULL, "EFI_NOT_STARTED"},
    {0x8000000000000014ULL, "EFI_ALREADY_STARTED"},
    {0x8000000000000015ULL, "EFI_ABORTED"},
    {0x8000000000000019ULL, "EFI_INCOMPATIBLE_VERSION"},
    {0x800000000000001AULL, "EFI_SECURITY_VIOLATION"},
    {1, "EFI_WARN_UNKNOWN_GLYPH"},
    {2, "EFI_WARN_DELETE_FAILURE"},
    {3, "EFI_WARN_WRITE_FAILURE"},
    {4, "EFI_WARN_BUFFER_TOO_SMALL"},
    {5, "EFI_WARN_STALE_DATA"},
    {6, "EFI_WARN_FILE_SYSTEM"},
    {7, "EFI_WARN_RESET_REQUIRED"},
};

}  // namespace

std::string EfiStatusName(uint64_t Status) {
  for (const NamedStatus &Entry : kNames) {
    if (Entry.Status == Status) return Entry.Name;
  }
  return Hex(Status, 16);
}

std::optional<uint64_t> EfiStatusByName(std::string_view Name) {
  for (const NamedStatus &Entry : kNames) {
    if (Entry.Name == Name) return Entry.Status;
  }
  return std::nullopt;
}

std::vector<std::string> EfiStatusNames() {
  std::vector<std::string> Names;
  for (const NamedStatus &Entry : kNames) Names.push_back(Entry.Name);
  return Names;
}

}  // namespace sim
