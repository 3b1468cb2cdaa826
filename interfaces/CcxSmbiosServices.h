// QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL: the processor and cache facts of one socket, already in
// the encodings of SMBIOS structure types 4 (Processor Information) and 7 (Cache Information).
// The caller adds the SMBIOS headers and strings; these records carry only the fields.
#ifndef INTERFACES_CCX_SMBIOS_SERVICES_H_
#define INTERFACES_CCX_SMBIOS_SERVICES_H_

#include "uefi/Base.h"

constexpr UINTN CCX_SMBIOS_VERSION_LENGTH = 48;
constexpr UINTN CCX_SMBIOS_MANUFACTURER_LENGTH = 29;

#pragma pack(push, 1)

typedef struct {
  UINT8 ProcessorType;
  UINT16 ProcessorFamily;
  UINT32 ProcessorIdLow;
  UINT32 ProcessorIdHigh;
  UINT8 Voltage;
  UINT16 ExternalClock;
  UINT16 MaxSpeed;
  UINT16 CurrentSpeed;
  UINT8 Status;
  UINT8 ProcessorUpgrade;
  UINT16 CoreCount;
  UINT16 CoreEnabled;
  UINT16 ThreadCount;
  UINT16 ProcessorCharacteristics;
  // The processor's name string as the processor itself reports it, NUL-padded.
  CHAR8 ProcessorVersion[CCX_SMBIOS_VERSION_LENGTH];
  CHAR8 Manufacturer[CCX_SMBIOS_MANUFACTURER_LENGTH];
} CCX_SMBIOS_PROCESSOR_INFO;

// Sizes come twice: the 16-bit form of the original structure (0xFFFF when the size needs the
// wider form) and the 32-bit form that later SMBIOS versions added.
typedef struct {
  UINT16 CacheConfiguration;
  UINT16 MaximumCacheSize;
  UINT16 InstalledSize;
  UINT16 SupportedSramType;
  UINT16 CurrentSramType;
  UINT8 CacheSpeed;
  UINT8 ErrorCorrectionType;
  UINT8 SystemCacheType;
  UINT8 Associativity;
  UINT32 MaximumCacheSize2;
  UINT32 InstalledSize2;
} CCX_SMBIOS_CACHE_INFO;

#pragma pack(pop)

static_assert(sizeof(CCX_SMBIOS_PROCESSOR_INFO) == 105, "CCX_SMBIOS_PROCESSOR_INFO is 105 bytes");
static_assert(offsetof(CCX_SMBIOS_PROCESSOR_INFO, ProcessorFamily) == 1, "processor: family at 1");
static_assert(offsetof(CCX_SMBIOS_PROCESSOR_INFO, ProcessorIdLow) == 3, "processor: ID low at 3");
static_assert(offsetof(CCX_SMBIOS_PROCESSOR_INFO, ProcessorIdHigh) == 7, "processor: ID high at 7");
static_assert(offsetof(CCX_SMBIOS_PROCESSOR_INFO, Voltage) == 11, "processor: voltage at 11");
static_assert(offsetof(CCX_SMBIOS_PROCESSOR_INFO, ExternalClock) == 12, "processor: external clock at 12");
static_assert(offsetof(CCX_SMBIOS_PROCESSOR_INFO, MaxSpeed) == 14, "processor: maximum speed at 14");
static_assert(offsetof(CCX_SMBIOS_PROCESSOR_INFO, CurrentSpeed) == 16, "processor: current speed at 16");
static_assert(offsetof(CCX_SMBIOS_PROCESSOR_INFO, Status) == 18, "processor: status at 18");
static_assert(offsetof(CCX_SMBIOS_PROCESSOR_INFO, ProcessorUpgrade) == 19, "processor: upgrade at 19");
static_assert(offsetof(CCX_SMBIOS_PROCESSOR_INFO, CoreCount) == 20, "processor: core count at 20");
static_assert(offsetof(CCX_SMBIOS_PROCESSOR_INFO, CoreEnabled) == 22, "processor: cores enabled at 22");
static_assert(offsetof(CCX_SMBIOS_PROCESSOR_INFO, ThreadCount) == 24, "processor: thread count at 24");
static_assert(offsetof(CCX_SMBIOS_PROCESSOR_INFO, ProcessorCharacteristics) == 26,
              "processor: characteristics at 26");
static_assert(offsetof(CCX_SMBIOS_PROCESSOR_INFO, ProcessorVersion) == 28, "processor: version at 28");
static_assert(offsetof(CCX_SMBIOS_PROCESSOR_INFO, Manufacturer) == 76, "processor: manufacturer at 76");

static_assert(sizeof(CCX_SMBIOS_CACHE_INFO) == 22, "CCX_SMBIOS_CACHE_INFO is 22 bytes");
static_assert(offsetof(CCX_SMBIOS_CACHE_INFO, MaximumCacheSize) == 2, "cache: maximum size at 2");
static_assert(offsetof(CCX_SMBIOS_CACHE_INFO, InstalledSize) == 4, "cache: installed size at 4");
static_assert(offsetof(CCX_SMBIOS_CACHE_INFO, SupportedSramType) == 6, "cache: supported SRAM type at 6");
static_assert(offsetof(CCX_SMBIOS_CACHE_INFO, CurrentSramType) == 8, "cache: current SRAM type at 8");
static_assert(offsetof(CCX_SMBIOS_CACHE_INFO, CacheSpeed) == 10, "cache: speed at 10");
static_assert(offsetof(CCX_SMBIOS_CACHE_INFO, ErrorCorrectionType) == 11, "cache: error correction at 11");
static_assert(offsetof(CCX_SMBIOS_CACHE_INFO, SystemCacheType) == 12, "cache: system cache type at 12");
static_assert(offsetof(CCX_SMBIOS_CACHE_INFO, Associativity) == 13, "cache: associativity at 13");
static_assert(offsetof(CCX_SMBIOS_CACHE_INFO, MaximumCacheSize2) == 14, "cache: maximum size 2 at 14");
static_assert(offsetof(CCX_SMBIOS_CACHE_INFO, InstalledSize2) == 18, "cache: installed size 2 at 18");

// GetCacheInfo fills one record per level, level 1 first.
constexpr UINTN CCX_SMBIOS_CACHE_LEVELS = 3;

typedef struct _QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL;

struct _QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL {
  UINT64 Revision;
  // Fills *Info for socket Socket. Reserved is not read.
  EFI_STATUS(EFIAPI *GetProcessorInfo)(IN QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL *This, IN UINTN Socket,
                                       OUT CCX_SMBIOS_PROCESSOR_INFO *Info, IN VOID *Reserved);
  // Fills CCX_SMBIOS_CACHE_LEVELS records at Info. They describe the package the call runs on;
  // Socket is accepted for callers that ask per socket, but it is not read.
  EFI_STATUS(EFIAPI *GetCacheInfo)(IN QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL *This, IN UINTN Socket,
                                   OUT CCX_SMBIOS_CACHE_INFO *Info);
};

constexpr UINT64 QORVEX_CCX_SMBIOS_SERVICES_REVISION = 0x140;

#endif  // INTERFACES_CCX_SMBIOS_SERVICES_H_
