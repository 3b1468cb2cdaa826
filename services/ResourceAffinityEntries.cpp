// Appending entries to the resource affinity table, and the service record. Every entry of the
// table begins with its type and length, and the table header counts them, so all three services
// append through one routine that keeps the counts right.
#include "services/ResourceAffinityServices.h"

#include "debug/FatalStop.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

// Types 1 and 5 belong to entries this driver never describes; from 6 on the table has none.
constexpr UINT8 kAffinityTypeLimit = 6;
constexpr UINT8 kAffinityTypeUnknown1 = 1;
constexpr UINT8 kAffinityTypeUnknown5 = 5;
constexpr UINT8 kCompactEntryLength = 40;
constexpr UINT8 kFullEntryLength = 64;

}  // namespace

UINT8 *AppendAffinityEntry(UINT8 Type, CCX_RESOURCE_AFFINITY_TABLE_HEADER *TableHeader, UINT8 **Cursor) {
  if (Type >= kAffinityTypeLimit) {
    FatalStop(kFatalAffinityTypeTooLarge);
    return nullptr;
  }
  if (Type == kAffinityTypeUnknown1 || Type == kAffinityTypeUnknown5) {
    FatalStop(kFatalAffinityTypeUnknown);
    return nullptr;
  }
  UINT8 *Entry = *Cursor;
  auto *Header = reinterpret_cast<CCX_AFFINITY_ENTRY_HEADER *>(Entry);
  Header->Type = Type;
  Header->Length = Type == CCX_AFFINITY_TYPE_COMPUTE_UNIT ? kCompactEntryLength : kFullEntryLength;
  *Cursor = Entry + Header->Length;
  TableHeader->TotalEntries++;
  if (Type == CCX_AFFINITY_TYPE_COMPUTE_UNIT) {
    TableHeader->ComputeUnitEntries++;
  }
  return Entry;
}

const QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL gCcxResourceAffinityServicesProtocol = {
    QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_REVISION,
    AddComputeUnitEntries,
    AddCacheEntries,
    AddTlbEntries,
};

}  // namespace CCX_IMAGE_NAMESPACE
