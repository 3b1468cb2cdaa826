#include "sim/platform/GuidNames.h"

#include <utility>
#include <vector>

#include "interfaces/QorvexGuids.h"
#include "sim/uefi/Guid.h"
#include "uefi/StandardGuids.h"

namespace sim {

std::string GuidName(const EFI_GUID &Guid) {
  static const std::vector<std::pair<const EFI_GUID *, const char *>> kNames = {
#define CCX_GUID_NAME(Name) {&Name, #Name},
      CCX_GUID_NAME(gEfiAcpiTableGuid)
      CCX_GUID_NAME(gEfiDxeSmmReadyToLockProtocolGuid)
      CCX_GUID_NAME(gEfiEventReadyToBootGuid)
      CCX_GUID_NAME(gEfiHobListGuid)
      CCX_GUID_NAME(gEfiLoadedImageProtocolGuid)
      CCX_GUID_NAME(gEfiLoadedImageDevicePathProtocolGuid)
      CCX_GUID_NAME(gEfiMpServiceProtocolGuid)
      CCX_GUID_NAME(gEfiPcdProtocolGuid)
      CCX_GUID_NAME(gEfiSmbios3TableGuid)
      CCX_GUID_NAME(gEfiSmmAccess2ProtocolGuid)
      CCX_GUID_NAME(gEfiSmmCommunicationProtocolGuid)
      CCX_GUID_NAME(gEfiSmmControl2ProtocolGuid)
      CCX_GUID_NAME(gEfiSmmPeiSmramMemoryReserveGuid)
      CCX_GUID_NAME(gEfiVariableArchProtocolGuid)
      CCX_GUID_NAME(gEfiVariableWriteArchProtocolGuid)
      CCX_GUID_NAME(gPcdProtocolGuid)
      CCX_GUID_NAME(gQorvexCcxAcpiServicesProtocolGuid)
      CCX_GUID_NAME(gQorvexCcxAddressInfoProtocolGuid)
      CCX_GUID_NAME(gQorvexCcxCppcServicesProtocolGuid)
      CCX_GUID_NAME(gQorvexCcxDxeInitCompleteProtocolGuid)
      CCX_GUID_NAME(gQorvexCcxDxeInitMarkerProtocolGuid)
      CCX_GUID_NAME(gQorvexCcxMcaServicesProtocolGuid)
      CCX_GUID_NAME(gQorvexCcxOcCompleteProtocolGuid)
      CCX_GUID_NAME(gQorvexCcxOcTriggerProtocolGuid)
      CCX_GUID_NAME(gQorvexCcxPcctServicesProtocolGuid)
      CCX_GUID_NAME(gQorvexCcxResourceAffinityServicesProtocolGuid)
      CCX_GUID_NAME(gQorvexCcxSmbiosServicesProtocolGuid)
      CCX_GUID_NAME(gQorvexCcxSratServicesProtocolGuid)
      CCX_GUID_NAME(gQorvexCoreTopologyServicesProtocolGuid)
      CCX_GUID_NAME(gQorvexCoreTopologyServicesV2ProtocolGuid)
      CCX_GUID_NAME(gQorvexDownCoreStatusVariableGuid)
      CCX_GUID_NAME(gQorvexFabricMmioAllocatorProtocolGuid)
      CCX_GUID_NAME(gQorvexFabricNumaServicesProtocolGuid)
      CCX_GUID_NAME(gQorvexFabricSystemServicesProtocolGuid)
      CCX_GUID_NAME(gQorvexFabricTopologyServicesProtocolGuid)
      CCX_GUID_NAME(gQorvexHeapHobGuid)
      CCX_GUID_NAME(gQorvexHeapProtocolGuid)
      CCX_GUID_NAME(gQorvexRegionServicesProtocolGuid)
      CCX_GUID_NAME(gQorvexS3SaveSmmCommunicationGuid)
      CCX_GUID_NAME(gQorvexS3SaveTokenSpaceGuid)
      CCX_GUID_NAME(gQorvexSmuServicesProtocolGuid)
      CCX_GUID_NAME(gQorvexSocServicesProtocolGuid)
      CCX_GUID_NAME(gQorvexZrbOptionHookProtocolGuid)
#undef CCX_GUID_NAME
  };
  for (const auto &[Known, Name] : kNames) {
    if (SameGuid(*Known, Guid)) return Name;
  }
  return GuidToString(Guid);
}

}  // namespace sim
