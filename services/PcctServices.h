// The PCC subspace service: one generic communication subspace per call, with the shared-memory
// region, the uncacheable MTRR on every processor and the MMIO window it relies on.
#ifndef SERVICES_PCCT_SERVICES_H_
#define SERVICES_PCCT_SERVICES_H_

#include "arch/ImageNamespace.h"
#include "interfaces/CcxPcctServices.h"

namespace CCX_IMAGE_NAMESPACE {

// The shared region of a subspace: its size, and the pages allocated to hold it at the alignment
// the region base rule gives.
constexpr UINT64 kPccRegionLength = 0x18000;
constexpr UINTN kPccRegionPages = 48;

// The region base inside an allocation at Allocated: the first multiple of 0x8000 at or above it
// that the mask 0x17FFF leaves, which keeps the region inside the 48 pages.
constexpr UINT64 PccRegionBase(UINT64 Allocated) { return (Allocated + 0x17FFF) & ~static_cast<UINT64>(0x17FFF); }

// The MTRR pair that makes the 64 KiB at RegionBase uncacheable, for a physical address width of
// AddressBits.
struct PCC_MTRR_PAIR {
  UINT64 Base;
  UINT64 Mask;
};
PCC_MTRR_PAIR PccMtrrPair(UINT64 RegionBase, UINT32 AddressBits);

EFI_STATUS EFIAPI CcxRellAddGenCommSubspaceStruct(QORVEX_CCX_PCCT_SERVICES_PROTOCOL *This, VOID *Reserved,
                                                  CONST CCX_PCC_SUBSPACE_INPUT *Input, UINT8 **TableCursor);

extern const QORVEX_CCX_PCCT_SERVICES_PROTOCOL gCcxPcctServicesProtocol;

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // SERVICES_PCCT_SERVICES_H_
