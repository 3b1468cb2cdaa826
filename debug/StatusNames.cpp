#include "debug/StatusNames.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

// Fixed-width, NUL-padded entries: a name that outgrows its cell fails to compile rather than
// losing its terminator.
constexpr UINTN kSuccessNameCell = 25;
constexpr UINTN kErrorNameCell = 21;

// Indexed by the status value 0 to 7.
const CHAR8 kSuccessNames[][kSuccessNameCell] = {
    "Success",
    "Warning Unknown Glyph",
    "Warning Delete Failure",
    "Warning Write Failure",
    "Warning Buffer Too Small",
    "Warning Stale Data",
    "Warning File System",
    "Warning Reset Required",
};

// Indexed by the status value with bit 63 cleared, less one (index 1 is the first entry).
const CHAR8 kErrorNames[][kErrorNameCell] = {
    "Load Error",           "Invalid Parameter",  "Unsupported",
    "Bad Buffer Size",      "Buffer Too Small",   "Not Ready",
    "Device Error",         "Write Protected",    "Out of Resources",
    "Volume Corrupt",       "Volume Full",        "No Media",
    "Media changed",        "Not Found",          "Access Denied",
    "No Response",          "No mapping",         "Time out",
    "Not started",          "Already started",    "Aborted",
    "ICMP Error",           "TFTP Error",         "Protocol Error",
    "Incompatible Version", "Security Violation", "CRC Error",
    "End of Media",         "Reserved (29)",      "Reserved (30)",
    "End of File",          "Invalid Language",   "Compromised Data",
    "IP Address Conflict",  "HTTP Error",
};

constexpr UINTN kSuccessNameCount = sizeof(kSuccessNames) / sizeof(kSuccessNames[0]);
constexpr UINTN kErrorNameCount = sizeof(kErrorNames) / sizeof(kErrorNames[0]);
static_assert(kSuccessNameCount == 8, "eight success and warning names");
static_assert(kErrorNameCount == 35, "35 error names");

}  // namespace

const CHAR8 *StatusCodeName(EFI_STATUS Status) {
  if ((Status & MAX_BIT) != 0) {
    const UINT64 Index = Status & ~MAX_BIT;
    if (Index >= 1 && Index <= kErrorNameCount) {
      return kErrorNames[Index - 1];
    }
    return nullptr;
  }
  if (Status < kSuccessNameCount) {
    return kSuccessNames[Status];
  }
  return nullptr;
}

}  // namespace CCX_IMAGE_NAMESPACE
