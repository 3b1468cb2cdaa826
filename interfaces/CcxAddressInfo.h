// QORVEX_CCX_ADDRESS_INFO_PROTOCOL: two address-size facts of the processor for drivers that size
// page tables and APIC ID fields. Both functions take no arguments, not even the record, because
// their answers come from the processor alone.
#ifndef INTERFACES_CCX_ADDRESS_INFO_H_
#define INTERFACES_CCX_ADDRESS_INFO_H_

#include "uefi/Base.h"

typedef struct {
  UINT64 Revision;
  // Usable physical address bits: the processor's physical address width less the bits that
  // memory encryption takes from the top of an address.
  UINT8(EFIAPI *GetPhysicalAddressBits)(VOID);
  // 4 shifted left by the processor's APIC ID size field.
  UINT32(EFIAPI *GetApicIdSizeScaled)(VOID);
} QORVEX_CCX_ADDRESS_INFO_PROTOCOL;

constexpr UINT64 QORVEX_CCX_ADDRESS_INFO_REVISION = 1;

#endif  // INTERFACES_CCX_ADDRESS_INFO_H_
