// The hand-off block (HOB) list that the pre-memory phase leaves for this phase: where it is, and a
// walk over its GUID extension HOBs that never reads outside the list.
#ifndef DRIVER_HOB_LIST_H_
#define DRIVER_HOB_LIST_H_

#include "arch/ImageNamespace.h"
#include "uefi/Hob.h"

namespace CCX_IMAGE_NAMESPACE {

// The HOB list published in the configuration table. It is looked up on first use and kept; while
// the table has none the result is null and the next call looks again.
VOID *GetHobList();

// The first GUID extension HOB with that name, or null.
EFI_HOB_GUID_TYPE *HobFindGuid(const EFI_GUID *Name);
// The next GUID extension HOB with that name after Previous, which an earlier find returned; null
// when there is none. Together with HobFindGuid it visits every such HOB once, in list order.
EFI_HOB_GUID_TYPE *HobFindNextGuid(const EFI_GUID *Name, const EFI_HOB_GUID_TYPE *Previous);

// The data bytes that follow a GUID extension HOB's name inside the HOB, and how many there are.
// A HOB need not lie on an 8-byte boundary (the walk steps over uneven lengths as they are), so
// readers take its fields from these bytes by copy rather than through the HOB's structure.
const UINT8 *HobGuidData(const EFI_HOB_GUID_TYPE *Hob);
UINTN HobGuidDataSize(const EFI_HOB_GUID_TYPE *Hob);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DRIVER_HOB_LIST_H_
