// The CPPC service and the template's callbacks. The callbacks run inside the table builder and
// ask it, through its own service record, for the platform's choices: whether the processor may
// select its performance autonomously, and the frequencies the platform overrides. A builder that
// gives no answer leaves the element at 0.
#include "services/CppcServices.h"

#include "debug/DebugPrint.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

// What GetAutonomousSelect stores for "enabled"; the flag starts at a value it never stores, so
// that a builder which leaves it alone reads as "not enabled".
constexpr UINT8 kAutonomousSelectEnabled = 1;
constexpr UINT8 kAutonomousSelectUnset = 2;

// The value of the first present override for Element in the builder's list, 0 when there is none.
BOOLEAN FindOverride(CCX_CPPC_BUILDER_CONTEXT *Context, UINT64 A, UINT64 C, UINT32 Element, UINT32 *Value) {
  if (Context == nullptr || Context->GetCpcOverrides == nullptr) {
    return FALSE;
  }
  CCX_CPPC_OVERRIDE *List = nullptr;
  UINT32 Count = 0;
  Context->GetCpcOverrides(&List, &Count, static_cast<UINT32>(A), C);
  if (List == nullptr) {
    return FALSE;
  }
  for (UINT32 Index = 0; Index < Count; Index++) {
    if (List[Index].Present != 0 && List[Index].Element == Element) {
      *Value = List[Index].Value;
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace

EFI_STATUS EFIAPI GetCppcTemplate(QORVEX_CCX_CPPC_SERVICES_PROTOCOL *This, CONST CCX_CPPC_TEMPLATE_ENTRY **Template) {
  if (Template != nullptr) {
    *Template = gCcxCppcTemplate;
  }
  return EFI_SUCCESS;
}

UINT32 EFIAPI QorvexCppcGetAutonomousSelect(CCX_CPPC_BUILDER_CONTEXT *Context, UINT64 A, UINT64 B, UINT64 C) {
  if (Context == nullptr || Context->GetAutonomousSelect == nullptr) {
    return 0;
  }
  UINT8 Flag = kAutonomousSelectUnset;
  Context->GetAutonomousSelect(&Flag, A, B, C);
  return Flag == kAutonomousSelectEnabled ? 1 : 0;
}

UINT32 EFIAPI QorvexCppcGetLowestSpeed(CCX_CPPC_BUILDER_CONTEXT *Context, UINT64 A, UINT64 B, UINT64 C) {
  UINT32 Value = 0;
  if (!FindOverride(Context, A, C, CcxCppcLowestFrequency, &Value)) {
    return 0;
  }
  PrintDebugMessage(TRACE_GENERAL, "  QorvexCppcGetLowestSpeed %d\n", Value);
  return Value;
}

UINT32 EFIAPI QorvexCppcGetNominalSpeed(CCX_CPPC_BUILDER_CONTEXT *Context, UINT64 A, UINT64 B, UINT64 C) {
  UINT32 Value = 0;
  if (!FindOverride(Context, A, C, CcxCppcNominalFrequency, &Value)) {
    return 0;
  }
  PrintDebugMessage(TRACE_GENERAL, "  QorvexCppcGetNominalSpeed %d\n", Value);
  return Value;
}

const QORVEX_CCX_CPPC_SERVICES_PROTOCOL gCcxCppcServicesProtocol = {
    QORVEX_CCX_CPPC_SERVICES_REVISION,
    GetCppcTemplate,
};

}  // namespace CCX_IMAGE_NAMESPACE
