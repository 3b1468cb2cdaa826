// The service protocols the initialization installs on the image handle, in installation order,
// and the address-information record it installs before them.
#ifndef SERVICES_SERVICE_PROTOCOLS_H_
#define SERVICES_SERVICE_PROTOCOLS_H_

#include "arch/ImageNamespace.h"
#include "interfaces/CcxAddressInfo.h"

namespace CCX_IMAGE_NAMESPACE {

struct CCX_SERVICE_PROTOCOL_ENTRY {
  EFI_GUID *Guid;
  const VOID *Record;
};

constexpr UINTN kCcxServiceProtocolCount = 7;
extern const CCX_SERVICE_PROTOCOL_ENTRY gCcxServiceProtocols[kCcxServiceProtocolCount];

extern const QORVEX_CCX_ADDRESS_INFO_PROTOCOL gCcxAddressInfoProtocol;

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // SERVICES_SERVICE_PROTOCOLS_H_
