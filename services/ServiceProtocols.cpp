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
#include "services/AcpiServices.h"
#include "services/McaServices.h"
#include "services/PcctServices.h"
#include "services/SmbiosServices.h"
#include "services/CppcServices.h"
#include "services/ResourceAffinityServices.h"
#include "services/SratServices.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {


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
