// The processor and cache information service: SMBIOS type 4 and type 7 fields for one socket.
#ifndef SERVICES_SMBIOS_SERVICES_H_
#define SERVICES_SMBIOS_SERVICES_H_

#include "arch/ImageNamespace.h"
#include "interfaces/CcxSmbiosServices.h"
#include "interfaces/SocServices.h"

namespace CCX_IMAGE_NAMESPACE {

EFI_STATUS EFIAPI GetProcessorInfo(QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL *This, UINTN Socket,
                                   CCX_SMBIOS_PROCESSOR_INFO *Info, VOID *Reserved);
EFI_STATUS EFIAPI GetCacheInfo(QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL *This, UINTN Socket, CCX_SMBIOS_CACHE_INFO *Info);

extern const QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL gCcxSmbiosServicesProtocol;

// The processor-upgrade code of the package, from the extended signature leaf's EAX and EBX.
UINT8 SmbiosProcessorUpgrade(UINT32 SignatureEax, UINT32 SignatureEbx);

// The cores of one socket: what the SOC service counts, what the topology enables, and whether
// the threads of a core are both in use. Status is EFI_DEVICE_ERROR, after an error message, when
// the fabric topology service failed a count the walk over the complexes needed: the counts are
// then as far as they go, and no answer to pass off as whole.
struct SMBIOS_CORE_COUNTS {
  UINT16 CoreCount;
  UINT16 CoresEnabled;
  BOOLEAN Multithreading;
  EFI_STATUS Status;
};
SMBIOS_CORE_COUNTS SmbiosCountCores(UINTN Socket, QORVEX_SOC_SERVICES_PROTOCOL *Soc);

// A cache size in KiB in its two SMBIOS forms. A size too large for the 32-bit form's 31 bits of
// 64 KiB units is given as the largest it holds.
struct SMBIOS_CACHE_SIZE {
  UINT16 Size16;
  UINT32 Size32;
};
SMBIOS_CACHE_SIZE SmbiosEncodeCacheSize(UINT64 SizeKiB);
// The SMBIOS associativity code for a cache of Ways ways.
UINT8 SmbiosAssociativity(UINT32 Ways);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // SERVICES_SMBIOS_SERVICES_H_
