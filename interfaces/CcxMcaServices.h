// QORVEX_CCX_MCA_SERVICES_PROTOCOL: a constant description of the machine-check banks, with the
// fields of the ACPI HEST machine-check error source, so that the HEST builder need not know the
// processor's bank layout.
#ifndef INTERFACES_CCX_MCA_SERVICES_H_
#define INTERFACES_CCX_MCA_SERVICES_H_

#include "uefi/Base.h"

#pragma pack(push, 1)

// One bank: the value its control register is initialized with, and its four MSRs.
typedef struct {
  UINT64 ControlInitData;
  UINT32 ControlMsr;
  UINT32 StatusMsr;
  UINT32 AddressMsr;
  UINT32 MiscMsr;
} CCX_MCA_BANK_ENTRY;

// The description handed out. It lives in the driver's read-only data, which is why the bank
// array is held as a pointer: an address constant needs no code at load time.
typedef struct {
  UINT64 GlobalCapabilityInitData;
  UINT64 GlobalControlInitData;
  UINT8 ClearStatusOnInitialization;
  UINT8 StatusDataFormat;
  UINT8 Reserved;
  UINT8 NumberOfBanks;
  CONST CCX_MCA_BANK_ENTRY *Banks;
} CCX_MCA_BANK_INFO;

#pragma pack(pop)

static_assert(sizeof(CCX_MCA_BANK_ENTRY) == 24, "CCX_MCA_BANK_ENTRY is 24 bytes");
static_assert(offsetof(CCX_MCA_BANK_ENTRY, ControlMsr) == 8, "bank: control MSR at 8");
static_assert(offsetof(CCX_MCA_BANK_ENTRY, StatusMsr) == 12, "bank: status MSR at 12");
static_assert(offsetof(CCX_MCA_BANK_ENTRY, AddressMsr) == 16, "bank: address MSR at 16");
static_assert(offsetof(CCX_MCA_BANK_ENTRY, MiscMsr) == 20, "bank: miscellaneous MSR at 20");
static_assert(offsetof(CCX_MCA_BANK_INFO, GlobalControlInitData) == 8, "info: global control at 8");
static_assert(offsetof(CCX_MCA_BANK_INFO, ClearStatusOnInitialization) == 16, "info: clear status at 16");
static_assert(offsetof(CCX_MCA_BANK_INFO, StatusDataFormat) == 17, "info: data format at 17");
static_assert(offsetof(CCX_MCA_BANK_INFO, Reserved) == 18, "info: reserved byte at 18");
static_assert(offsetof(CCX_MCA_BANK_INFO, NumberOfBanks) == 19, "info: bank count at 19");
static_assert(offsetof(CCX_MCA_BANK_INFO, Banks) == 20, "info: bank array address at 20");
static_assert(sizeof(CCX_MCA_BANK_INFO) == 28, "CCX_MCA_BANK_INFO is 28 bytes");

constexpr UINT8 CCX_MCA_BANK_COUNT = 28;

typedef struct _QORVEX_CCX_MCA_SERVICES_PROTOCOL QORVEX_CCX_MCA_SERVICES_PROTOCOL;

struct _QORVEX_CCX_MCA_SERVICES_PROTOCOL {
  UINT64 Revision;
  // Hands out the address of the constant description; the caller must not change it.
  EFI_STATUS(EFIAPI *GetMcaBankInfo)(IN QORVEX_CCX_MCA_SERVICES_PROTOCOL *This, OUT CONST CCX_MCA_BANK_INFO **Info);
};

constexpr UINT64 QORVEX_CCX_MCA_SERVICES_REVISION = 1;

#endif  // INTERFACES_CCX_MCA_SERVICES_H_
