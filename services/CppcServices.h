// QORVEX_CCX_CPPC_SERVICES_PROTOCOL: the constant _CPC register template and the callbacks that
// turn the table builder's own data into the template's integer elements. The record is installed
// by the initialization; its members are declared here so that they can be called directly.
#ifndef SERVICES_CPPC_SERVICES_H_
#define SERVICES_CPPC_SERVICES_H_

#include "arch/ImageNamespace.h"
#include "interfaces/CcxCppcServices.h"

namespace CCX_IMAGE_NAMESPACE {

extern const QORVEX_CCX_CPPC_SERVICES_PROTOCOL gCcxCppcServicesProtocol;

// The template: one entry per _CPC element in package order, then the end entry.
constexpr UINTN kCcxCppcTemplateEntries = CcxCppcElementCount + 1;
extern const CCX_CPPC_TEMPLATE_ENTRY gCcxCppcTemplate[kCcxCppcTemplateEntries];

EFI_STATUS EFIAPI GetCppcTemplate(QORVEX_CCX_CPPC_SERVICES_PROTOCOL *This, CONST CCX_CPPC_TEMPLATE_ENTRY **Template);

UINT32 EFIAPI QorvexCppcGetAutonomousSelect(CCX_CPPC_BUILDER_CONTEXT *Context, UINT64 A, UINT64 B, UINT64 C);
UINT32 EFIAPI QorvexCppcGetLowestSpeed(CCX_CPPC_BUILDER_CONTEXT *Context, UINT64 A, UINT64 B, UINT64 C);
UINT32 EFIAPI QorvexCppcGetNominalSpeed(CCX_CPPC_BUILDER_CONTEXT *Context, UINT64 A, UINT64 B, UINT64 C);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // SERVICES_CPPC_SERVICES_H_
