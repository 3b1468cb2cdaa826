// Every GUID of the platform's own components: the protocols this driver installs, the sibling
// services it calls, and its HOB, variable, message and token-space names. The values are fixed
// and shared with the sibling components that the platform builds with this driver.
#ifndef INTERFACES_QORVEX_GUIDS_H_
#define INTERFACES_QORVEX_GUIDS_H_

#include "uefi/Base.h"

extern "C" {
extern EFI_GUID gQorvexCcxAcpiServicesProtocolGuid;
extern EFI_GUID gQorvexCcxAddressInfoProtocolGuid;
extern EFI_GUID gQorvexCcxCppcServicesProtocolGuid;
extern EFI_GUID gQorvexCcxDxeInitCompleteProtocolGuid;
extern EFI_GUID gQorvexCcxDxeInitMarkerProtocolGuid;
extern EFI_GUID gQorvexCcxMcaServicesProtocolGuid;
extern EFI_GUID gQorvexCcxOcCompleteProtocolGuid;
extern EFI_GUID gQorvexCcxOcTriggerProtocolGuid;
extern EFI_GUID gQorvexCcxPcctServicesProtocolGuid;
extern EFI_GUID gQorvexCcxResourceAffinityServicesProtocolGuid;
extern EFI_GUID gQorvexCcxSmbiosServicesProtocolGuid;
extern EFI_GUID gQorvexCcxSratServicesProtocolGuid;
extern EFI_GUID gQorvexCoreTopologyServicesProtocolGuid;
extern EFI_GUID gQorvexCoreTopologyServicesV2ProtocolGuid;
extern EFI_GUID gQorvexFabricMmioAllocatorProtocolGuid;
extern EFI_GUID gQorvexFabricNumaServicesProtocolGuid;
extern EFI_GUID gQorvexFabricSystemServicesProtocolGuid;
extern EFI_GUID gQorvexFabricTopologyServicesProtocolGuid;
extern EFI_GUID gQorvexHeapProtocolGuid;
extern EFI_GUID gQorvexRegionServicesProtocolGuid;
extern EFI_GUID gQorvexSmuServicesProtocolGuid;
extern EFI_GUID gQorvexSocServicesProtocolGuid;
extern EFI_GUID gQorvexZrbOptionHookProtocolGuid;
extern EFI_GUID gQorvexDownCoreStatusVariableGuid;
extern EFI_GUID gQorvexHeapHobGuid;
extern EFI_GUID gQorvexS3SaveSmmCommunicationGuid;
extern EFI_GUID gQorvexS3SaveTokenSpaceGuid;
}

#endif  // INTERFACES_QORVEX_GUIDS_H_
