// The service protocols in the order the initialization installs them. Services whose routines
// are not built yet are installed as records with a revision and no routines.
#include "services/ServiceProtocols.h"

#include "interfaces/CcxAcpiServices.h"
#include "interfaces/CcxCppcServices.h"
#include "interfaces/CcxMcaServices.h"
#include "interfaces/CcxPcctServices.h"
#include "interfaces/CcxResourceAffinityServices.h"
#include "interfaces/CcxSmbiosServices.h"
#include "interfaces/CcxSratServices.h"
#include "interfaces/QorvexGuids.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

const QORVEX_CCX_ACPI_SERVICES_PROTOCOL gCcxAcpiServicesProtocol = {};
const QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL gCcxResourceAffinityServicesProtocol = {};
const QORVEX_CCX_SRAT_SERVICES_PROTOCOL gCcxSratServicesProtocol = {};
const QORVEX_CCX_PCCT_SERVICES_PROTOCOL gCcxPcctServicesProtocol = {};
const QORVEX_CCX_CPPC_SERVICES_PROTOCOL gCcxCppcServicesProtocol = {};
const QORVEX_CCX_MCA_SERVICES_PROTOCOL gCcxMcaServicesProtocol = {};
const QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL gCcxSmbiosServicesProtocol = {};

}  // namespace

const CCX_SERVICE_PROTOCOL_ENTRY gCcxServiceProtocols[kCcxServiceProtocolCount] = {
    {&gQorvexCcxAcpiServicesProtocolGuid, &gCcxAcpiServicesProtocol},
    {&gQorvexCcxResourceAffinityServicesProtocolGuid, &gCcxResourceAffinityServicesProtocol},
    {&gQorvexCcxSratServicesProtocolGuid, &gCcxSratServicesProtocol},
    {&gQorvexCcxPcctServicesProtocolGuid, &gCcxPcctServicesProtocol},
    {&gQorvexCcxCppcServicesProtocolGuid, &gCcxCppcServicesProtocol},
    {&gQorvexCcxMcaServicesProtocolGuid, &gCcxMcaServicesProtocol},
    {&gQorvexCcxSmbiosServicesProtocolGuid, &gCcxSmbiosServicesProtocol},
};

}  // namespace CCX_IMAGE_NAMESPACE
