// QORVEX_CCX_SRAT_SERVICES_PROTOCOL: one processor affinity structure per thread for the ACPI
// System Resource Affinity Table. The entry form follows the platform's APIC mode, and the
// structures are the two standard ACPI ones, so that the outside SRAT builder can copy them as
// they are.
#ifndef INTERFACES_CCX_SRAT_SERVICES_H_
#define INTERFACES_CCX_SRAT_SERVICES_H_

#include "uefi/Base.h"

#pragma pack(push, 1)

// Processor Local APIC/SAPIC Affinity Structure. The proximity domain is split: its low byte sits
// before the APIC ID and its upper three bytes follow the SAPIC EID.
typedef struct {
  UINT8 Type;
  UINT8 Length;
  UINT8 ProximityDomain7To0;
  UINT8 ApicId;
  UINT32 Flags;
  UINT8 LocalSapicEid;
  UINT8 ProximityDomain31To8[3];
  UINT32 ClockDomain;
} EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY;

// Processor Local x2APIC Affinity Structure.
typedef struct {
  UINT8 Type;
  UINT8 Length;
  UINT8 Reserved1[2];
  UINT32 ProximityDomain;
  UINT32 X2ApicId;
  UINT32 Flags;
  UINT32 ClockDomain;
  UINT8 Reserved2[4];
} EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY;

#pragma pack(pop)

static_assert(sizeof(EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY) == 16, "local APIC affinity is 16 bytes");
static_assert(offsetof(EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY, ProximityDomain7To0) == 2,
              "local APIC: domain bits 7:0 at 2");
static_assert(offsetof(EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY, ApicId) == 3, "local APIC: APIC ID at 3");
static_assert(offsetof(EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY, Flags) == 4, "local APIC: flags at 4");
static_assert(offsetof(EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY, LocalSapicEid) == 8, "local APIC: EID at 8");
static_assert(offsetof(EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY, ProximityDomain31To8) == 9,
              "local APIC: domain bits 31:8 at 9 to 11");
static_assert(offsetof(EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY, ClockDomain) == 12,
              "local APIC: clock domain at 12");
static_assert(sizeof(EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY) == 24, "x2APIC affinity is 24 bytes");
static_assert(offsetof(EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY, ProximityDomain) == 4, "x2APIC: domain at 4");
static_assert(offsetof(EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY, X2ApicId) == 8, "x2APIC: APIC ID at 8");
static_assert(offsetof(EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY, Flags) == 12, "x2APIC: flags at 12");
static_assert(offsetof(EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY, ClockDomain) == 16, "x2APIC: clock domain at 16");

constexpr UINT8 EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY_TYPE = 0;
constexpr UINT8 EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY_TYPE = 2;
constexpr UINT32 EFI_ACPI_SRAT_AFFINITY_ENABLED = 1U << 0;

typedef struct _QORVEX_CCX_SRAT_SERVICES_PROTOCOL QORVEX_CCX_SRAT_SERVICES_PROTOCOL;

struct _QORVEX_CCX_SRAT_SERVICES_PROTOCOL {
  UINT64 Revision;
  // Appends the structures at *Cursor and moves it past them. The builder works the table length
  // out from the cursor, so TableHeader is handed over but not read or written.
  EFI_STATUS(EFIAPI *AddProcessorAffinityEntries)(IN QORVEX_CCX_SRAT_SERVICES_PROTOCOL *This, IN VOID *TableHeader,
                                                  IN OUT UINT8 **Cursor);
};

constexpr UINT64 QORVEX_CCX_SRAT_SERVICES_REVISION = 2;

#endif  // INTERFACES_CCX_SRAT_SERVICES_H_
