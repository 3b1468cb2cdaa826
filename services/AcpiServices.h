// QORVEX_CCX_ACPI_SERVICES_PROTOCOL: per-socket APIC IDs with the enabled P-states, the
// power-state record and the thread-to-core conversion, for the builder of the processors' ACPI
// objects. The record is installed by the initialization; its members are declared here so that
// they can be called directly as well.
#ifndef SERVICES_ACPI_SERVICES_H_
#define SERVICES_ACPI_SERVICES_H_

#include "arch/ImageNamespace.h"
#include "interfaces/CcxAcpiServices.h"

namespace CCX_IMAGE_NAMESPACE {

extern const QORVEX_CCX_ACPI_SERVICES_PROTOCOL gCcxAcpiServicesProtocol;

EFI_STATUS EFIAPI GetPstateInfo(QORVEX_CCX_ACPI_SERVICES_PROTOCOL *This, PSTATE_INFO_HEADER **PstateInfo);
EFI_STATUS EFIAPI GetPowerStateInfo(QORVEX_CCX_ACPI_SERVICES_PROTOCOL *This, POWER_STATE_RECORD **PowerState);
UINT32 EFIAPI ThreadsToCores(QORVEX_CCX_ACPI_SERVICES_PROTOCOL *This, UINT32 Threads);
EFI_STATUS EFIAPI GetPstatePower(QORVEX_CCX_ACPI_SERVICES_PROTOCOL *This, UINT32 Pstate, UINT64 *PowerInMilliwatts);

// The fatal stop of a topology walk that visits more sockets than the system service counts:
// the socket's record would lie beyond the buffer, so it is not written.
constexpr UINT32 kFatalPstateInfoSocketOverflow = 0x30790431;

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // SERVICES_ACPI_SERVICES_H_
