// QORVEX_CCX_SRAT_SERVICES_PROTOCOL: the processor affinity structures of the ACPI SRAT, one per
// thread, in the form the platform's APIC mode calls for. The record is installed by the
// initialization; its routine is declared here so that it can be called directly as well.
#ifndef SERVICES_SRAT_SERVICES_H_
#define SERVICES_SRAT_SERVICES_H_

#include "arch/ImageNamespace.h"
#include "interfaces/CcxSratServices.h"

namespace CCX_IMAGE_NAMESPACE {

extern const QORVEX_CCX_SRAT_SERVICES_PROTOCOL gCcxSratServicesProtocol;

EFI_STATUS EFIAPI AddProcessorAffinityEntries(QORVEX_CCX_SRAT_SERVICES_PROTOCOL *This, VOID *TableHeader,
                                              UINT8 **Cursor);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // SERVICES_SRAT_SERVICES_H_
