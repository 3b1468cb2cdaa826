// QORVEX_CCX_PCCT_SERVICES_PROTOCOL: appends one ACPI PCCT Generic Communication Subspace to the
// table a builder is assembling, and sets up the shared memory, the uncacheable MTRR and the MMIO
// window that the subspace relies on.
#ifndef INTERFACES_CCX_PCCT_SERVICES_H_
#define INTERFACES_CCX_PCCT_SERVICES_H_

#include "interfaces/AcpiStructures.h"

#pragma pack(push, 1)

// The builder's parameters for the subspace. The first twelve bytes are the builder's own and are
// not read here.
typedef struct {
  UINT8 Reserved[12];
  UINT32 DoorbellAddress;
  UINT32 NominalLatency;
  UINT32 MaximumPeriodicAccessRate;
  UINT16 MinimumRequestTurnaroundTime;
} CCX_PCC_SUBSPACE_INPUT;

// PCCT subspace type 0 exactly as ACPI defines it.
typedef struct {
  UINT8 Type;
  UINT8 Length;
  UINT8 Reserved[6];
  UINT64 BaseAddress;
  UINT64 MemoryRangeLength;
  EFI_ACPI_GENERIC_ADDRESS_STRUCTURE DoorbellRegister;
  UINT64 DoorbellPreserve;
  UINT64 DoorbellWrite;
  UINT32 NominalLatency;
  UINT32 MaximumPeriodicAccessRate;
  UINT16 MinimumRequestTurnaroundTime;
} CCX_PCCT_GENERIC_SUBSPACE;

#pragma pack(pop)

static_assert(offsetof(CCX_PCC_SUBSPACE_INPUT, DoorbellAddress) == 12, "input: doorbell address at 12");
static_assert(offsetof(CCX_PCC_SUBSPACE_INPUT, NominalLatency) == 16, "input: nominal latency at 16");
static_assert(offsetof(CCX_PCC_SUBSPACE_INPUT, MaximumPeriodicAccessRate) == 20, "input: access rate at 20");
static_assert(offsetof(CCX_PCC_SUBSPACE_INPUT, MinimumRequestTurnaroundTime) == 24, "input: turnaround at 24");

static_assert(sizeof(CCX_PCCT_GENERIC_SUBSPACE) == 62, "a generic communication subspace is 62 bytes");
static_assert(offsetof(CCX_PCCT_GENERIC_SUBSPACE, Length) == 1, "subspace: length at 1");
static_assert(offsetof(CCX_PCCT_GENERIC_SUBSPACE, BaseAddress) == 8, "subspace: base address at 8");
static_assert(offsetof(CCX_PCCT_GENERIC_SUBSPACE, MemoryRangeLength) == 16, "subspace: range length at 16");
static_assert(offsetof(CCX_PCCT_GENERIC_SUBSPACE, DoorbellRegister) == 24, "subspace: doorbell register at 24");
static_assert(offsetof(CCX_PCCT_GENERIC_SUBSPACE, DoorbellRegister.RegisterBitWidth) == 25,
              "subspace: doorbell bit width at 25");
static_assert(offsetof(CCX_PCCT_GENERIC_SUBSPACE, DoorbellRegister.RegisterBitOffset) == 26,
              "subspace: doorbell bit offset at 26");
static_assert(offsetof(CCX_PCCT_GENERIC_SUBSPACE, DoorbellRegister.AccessSize) == 27,
              "subspace: doorbell access size at 27");
static_assert(offsetof(CCX_PCCT_GENERIC_SUBSPACE, DoorbellRegister.Address) == 28,
              "subspace: doorbell address at 28");
static_assert(offsetof(CCX_PCCT_GENERIC_SUBSPACE, DoorbellPreserve) == 36, "subspace: doorbell preserve at 36");
static_assert(offsetof(CCX_PCCT_GENERIC_SUBSPACE, DoorbellWrite) == 44, "subspace: doorbell write at 44");
static_assert(offsetof(CCX_PCCT_GENERIC_SUBSPACE, NominalLatency) == 52, "subspace: nominal latency at 52");
static_assert(offsetof(CCX_PCCT_GENERIC_SUBSPACE, MaximumPeriodicAccessRate) == 56,
              "subspace: access rate at 56");
static_assert(offsetof(CCX_PCCT_GENERIC_SUBSPACE, MinimumRequestTurnaroundTime) == 60,
              "subspace: turnaround at 60");

constexpr UINT8 CCX_PCCT_GENERIC_SUBSPACE_TYPE = 0;

// The heap handle under which the shared region's base address is published (an 8-byte buffer).
constexpr UINT32 HEAP_HANDLE_PCC_REGION = 0xA035;

typedef struct _QORVEX_CCX_PCCT_SERVICES_PROTOCOL QORVEX_CCX_PCCT_SERVICES_PROTOCOL;

struct _QORVEX_CCX_PCCT_SERVICES_PROTOCOL {
  UINT64 Revision;
  // Writes one subspace at *TableCursor and, on success only, moves *TableCursor past it. Neither
  // This nor Reserved is read, so both may be null.
  EFI_STATUS(EFIAPI *AddGenCommSubspaceStruct)(IN QORVEX_CCX_PCCT_SERVICES_PROTOCOL *This, IN VOID *Reserved,
                                               IN CONST CCX_PCC_SUBSPACE_INPUT *Input,
                                               IN OUT UINT8 **TableCursor);
};

constexpr UINT64 QORVEX_CCX_PCCT_SERVICES_REVISION = 1;

#endif  // INTERFACES_CCX_PCCT_SERVICES_H_
