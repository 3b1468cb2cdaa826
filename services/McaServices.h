// The machine-check description service: a constant description of the 28 banks for the HEST
// builder.
#ifndef SERVICES_MCA_SERVICES_H_
#define SERVICES_MCA_SERVICES_H_

#include "arch/ImageNamespace.h"
#include "interfaces/CcxMcaServices.h"

namespace CCX_IMAGE_NAMESPACE {

EFI_STATUS EFIAPI GetMcaBankInfo(QORVEX_CCX_MCA_SERVICES_PROTOCOL *This, CONST CCX_MCA_BANK_INFO **Info);

extern const QORVEX_CCX_MCA_SERVICES_PROTOCOL gCcxMcaServicesProtocol;

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // SERVICES_MCA_SERVICES_H_
