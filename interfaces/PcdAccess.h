// The two accessors of the platform configuration protocols. Each locates its protocol on first
// use and caches the pointer (null when the protocol is missing); callers call through the result.
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
