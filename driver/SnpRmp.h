// The secure-nested-paging reverse-map table: sized, reserved and cleared; bounds left in
// gImage.Init.RmpBase and RmpEnd.
#ifndef DRIVER_SNP_RMP_H_
#define DRIVER_SNP_RMP_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

VOID CcxRellInitSnpRmp(UINT8 Mode);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DRIVER_SNP_RMP_H_
