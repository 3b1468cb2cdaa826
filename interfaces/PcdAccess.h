// The two accessors of the platform configuration protocols. Each locates its protocol on first
// use and caches the pointer; callers call through the result. While a protocol is missing the
// accessor answers a stand-in record on which every item reads as zero and no write is stored.
#ifndef INTERFACES_PCD_ACCESS_H_
#define INTERFACES_PCD_ACCESS_H_

#include "arch/ImageNamespace.h"
#include "interfaces/PlatformConfig.h"
#include "uefi/Pcd.h"

namespace CCX_IMAGE_NAMESPACE {

PCD_PROTOCOL *GetPcdProtocol();
EFI_PCD_PROTOCOL *GetPiPcdProtocol();

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // INTERFACES_PCD_ACCESS_H_
