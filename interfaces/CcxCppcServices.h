// QORVEX_CCX_CPPC_SERVICES_PROTOCOL: a constant template that tells the ACPI table builder, for
// each _CPC element after NumEntries and Revision, where this processor keeps it: a register
// (functional fixed hardware, that is an MSR), an empty register, or an integer computed by a
// callback from data the builder itself supplies. The builder walks the template to its end
// marker and emits the elements in template order.
#ifndef INTERFACES_CCX_CPPC_SERVICES_H_
#define INTERFACES_CCX_CPPC_SERVICES_H_

#include "interfaces/AcpiStructures.h"

typedef struct _CCX_CPPC_BUILDER_CONTEXT CCX_CPPC_BUILDER_CONTEXT;

// Computes one element's integer from the builder's data. The builder passes its own service
// record as Context and three values of its own that the callback forwards to that record.
typedef UINT32(EFIAPI *CCX_CPPC_CALLBACK)(IN CCX_CPPC_BUILDER_CONTEXT *Context, IN UINT64 A, IN UINT64 B,
                                          IN UINT64 C);

#pragma pack(push, 1)

// The template lives in read-only data, so the callback is held as a function pointer: an address
// constant needs no code at load time.
typedef struct {
  UINT8 Kind;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE Register;
  CCX_CPPC_CALLBACK Callback;
  UINT8 Revision;
} CCX_CPPC_TEMPLATE_ENTRY;

// One override the builder may hold for an element, looked up by element number.
typedef struct {
  UINT8 Present;
  UINT8 Reserved1[3];
  UINT32 Element;
  UINT32 Reserved2;
  UINT32 Value;
} CCX_CPPC_OVERRIDE;

#pragma pack(pop)

static_assert(sizeof(CCX_CPPC_TEMPLATE_ENTRY) == 22, "CCX_CPPC_TEMPLATE_ENTRY is 22 bytes");
static_assert(offsetof(CCX_CPPC_TEMPLATE_ENTRY, Register) == 1, "template: register at 1");
static_assert(offsetof(CCX_CPPC_TEMPLATE_ENTRY, Callback) == 13, "template: callback at 13");
static_assert(offsetof(CCX_CPPC_TEMPLATE_ENTRY, Revision) == 21, "template: revision at 21");
static_assert(sizeof(CCX_CPPC_OVERRIDE) == 16, "an override record is 16 bytes");
static_assert(offsetof(CCX_CPPC_OVERRIDE, Element) == 4, "override: element number at 4");
static_assert(offsetof(CCX_CPPC_OVERRIDE, Value) == 12, "override: value at 12");

// Template entry kinds.
constexpr UINT8 CCX_CPPC_KIND_CALLBACK = 0x00;
constexpr UINT8 CCX_CPPC_KIND_REGISTER = 0x0A;
constexpr UINT8 CCX_CPPC_KIND_END = 0xFF;

// The _CPC elements in package order, which is also the template's order; an override names its
// element by this number.
enum CCX_CPPC_ELEMENT : UINT32 {
  CcxCppcHighestPerformance = 0,
  CcxCppcNominalPerformance = 1,
  CcxCppcLowestNonlinearPerformance = 2,
  CcxCppcLowestPerformance = 3,
  CcxCppcGuaranteedPerformanceRegister = 4,
  CcxCppcDesiredPerformanceRegister = 5,
  CcxCppcMinimumPerformanceRegister = 6,
  CcxCppcMaximumPerformanceRegister = 7,
  CcxCppcPerformanceReductionToleranceRegister = 8,
  CcxCppcTimeWindowRegister = 9,
  CcxCppcCounterWraparoundTime = 10,
  CcxCppcReferencePerformanceCounterRegister = 11,
  CcxCppcDeliveredPerformanceCounterRegister = 12,
  CcxCppcPerformanceLimitedRegister = 13,
  CcxCppcEnableRegister = 14,
  CcxCppcAutonomousSelectionEnable = 15,
  CcxCppcAutonomousActivityWindowRegister = 16,
  CcxCppcEnergyPerformancePreferenceRegister = 17,
  CcxCppcReferencePerformance = 18,
  CcxCppcLowestFrequency = 19,
  CcxCppcNominalFrequency = 20,
  CcxCppcElementCount = 21,
};

// The table builder's own service record, as far as the callbacks use it. Its first slots belong
// to the builder; the argument order of the two services is this platform's.
struct _CCX_CPPC_BUILDER_CONTEXT {
  UINT64 Revision;
  VOID *BuilderSlot2;
  VOID *BuilderSlot3;
  // Stores the platform's autonomous-selection setting in *Flag; 1 means enabled.
  EFI_STATUS(EFIAPI *GetAutonomousSelect)(OUT UINT8 *Flag, IN UINT64 A, IN UINT64 B, IN UINT64 C);
  // Hands out the builder's override list and its length.
  EFI_STATUS(EFIAPI *GetCpcOverrides)(OUT CCX_CPPC_OVERRIDE **List, OUT UINT32 *Count, IN UINT32 A, IN UINT64 C);
};
static_assert(offsetof(CCX_CPPC_BUILDER_CONTEXT, GetAutonomousSelect) == 3 * 8, "builder: fourth slot");
static_assert(offsetof(CCX_CPPC_BUILDER_CONTEXT, GetCpcOverrides) == 4 * 8, "builder: fifth slot");

typedef struct _QORVEX_CCX_CPPC_SERVICES_PROTOCOL QORVEX_CCX_CPPC_SERVICES_PROTOCOL;

struct _QORVEX_CCX_CPPC_SERVICES_PROTOCOL {
  UINT64 Revision;
  // Hands out the address of the template's first entry.
  EFI_STATUS(EFIAPI *GetCppcTemplate)(IN QORVEX_CCX_CPPC_SERVICES_PROTOCOL *This,
                                      OUT CONST CCX_CPPC_TEMPLATE_ENTRY **Template);
};

constexpr UINT64 QORVEX_CCX_CPPC_SERVICES_REVISION = 1;

#endif  // INTERFACES_CCX_CPPC_SERVICES_H_
