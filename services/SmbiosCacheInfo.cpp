// The cache information records of the SMBIOS service: the three levels of the package the call
// runs on, sized from the processor's cache leaves. Level 3 is either summed over every complex,
// each measuring its own cache, or taken from the package-wide size field, and then shared out
// among the sockets. A level-3 size that misses complexes or could not be shared out is still
// filled in, but the answer is then an error.
#include "services/SmbiosServices.h"

#include "arch/Cpuid.h"
#include "arch/Processor.h"
#include "debug/DebugPrint.h"
#include "debug/FatalStop.h"
#include "driver/ImageState.h"
#include "driver/RunOnAps.h"
#include "interfaces/FabricSystemServices.h"
#include "interfaces/QorvexGuids.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kFatalNoSystemServices = 0x30890312;
constexpr UINT32 kFatalNoSocketCount = 0x30890316;

// Enabled, write-back, with the level less one in bits 2:0.
constexpr UINT16 kCacheConfigurationBase = 0x0180;
constexpr UINT16 kSramTypeSynchronous = 0x0010;
constexpr UINT8 kCacheSpeedUnknown = 1;
constexpr UINT8 kErrorCorrectionMultiBit = 6;
constexpr UINT8 kSystemCacheUnified = 5;
constexpr UINT8 kAssociativity8Way = 0x07;

// Sizes below this many KiB are given in 1 KiB units; up to kSize16Limit in 64 KiB units with bit
// 15 set; above that only the 32-bit form holds them, with bit 31 set.
constexpr UINT32 kSize64KiBFrom = 0x8000;
constexpr UINT32 kSize16Limit = 0x1FFC00;
constexpr UINT32 kGranularity64KiB16 = 0x8000;
constexpr UINT32 kGranularity64KiB32 = 0x80000000;
constexpr UINT32 kKiBPer64KiBShift = 6;
constexpr UINT64 kMost64KiBUnits32 = 0x7FFFFFFF;

struct ASSOCIATIVITY_CODE {
  UINT32 Ways;
  UINT8 Code;
};
constexpr ASSOCIATIVITY_CODE kAssociativityCodes[] = {
    {1, 0x03}, {2, 0x04}, {4, 0x05}, {8, 0x07}, {12, 0x09}, {16, 0x08},
    {20, 0x0E}, {24, 0x0A}, {32, 0x0B}, {48, 0x0C}, {64, 0x0D},
};
constexpr UINT8 kAssociativityUnknown = 0x02;

// The logical processors of the package that share the cache of a sub-leaf.
UINT32 SharingCount(UINT32 SubLeaf) {
  UINT32 Eax = 0;
  CpuidEx(CpuidLeaf::CacheProperties::Leaf, SubLeaf, &Eax, nullptr, nullptr, nullptr);
  return static_cast<UINT32>(CpuidLeaf::CacheProperties::EaxNumSharingCacheMinusOne::Get(Eax)) + 1;
}

// The level-3 cache of the complex the running processor belongs to, in KiB.
UINT64 OwnL3SizeKiB() {
  using Properties = CpuidLeaf::CacheProperties;
  UINT32 Ebx = 0;
  UINT32 Ecx = 0;
  CpuidEx(Properties::Leaf, Properties::SubLeafL3, nullptr, &Ebx, &Ecx, nullptr);
  const UINT64 Bytes = (Properties::EbxLineSizeMinusOne::Get(Ebx) + 1) * (Properties::EbxWaysMinusOne::Get(Ebx) + 1) *
                       (static_cast<UINT64>(Ecx) + 1);
  return Bytes / 1024;
}

// Runs on the first processor of each complex in turn, so the total needs no lock.
VOID EFIAPI AddOwnL3Size(VOID *Total) { *static_cast<UINT64 *>(Total) += OwnL3SizeKiB(); }

// The number of sockets, or 1 when it can't be had (Counted is then cleared).
UINTN SocketCount(BOOLEAN &Counted) {
  UINTN Sockets = 1;
  QORVEX_FABRIC_SYSTEM_SERVICES_PROTOCOL *System = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gQorvexFabricSystemServicesProtocolGuid, nullptr,
                                    reinterpret_cast<VOID **>(&System)))) {
    FatalStop(kFatalNoSystemServices);
    Counted = FALSE;
    return Sockets;
  }
  if (System->GetSystemInfo(System, &Sockets, nullptr, nullptr, nullptr, nullptr) != EFI_SUCCESS) {
    FatalStop(kFatalNoSocketCount);
    Counted = FALSE;
    Sockets = 1;
  }
  return Sockets;
}

// The package's share of the level-3 cache in KiB. Whole says whether every complex was measured
// and the total shared out among the sockets.
UINT64 L3SizeKiB(BOOLEAN &Whole) {
  using L2L3 = CpuidLeaf::L2L3CacheIdentifiers;
  UINT32 Edx = 0;
  Cpuid(L2L3::Leaf, nullptr, nullptr, nullptr, &Edx);
  // Summed in 64 bits so that many large complexes can't wrap the total before it is shared out.
  UINT64 Total = 0;
  if (L2L3::EdxL3Assoc::Get(Edx) == L2L3::L3AssocSeeCacheProperties) {
    Total = OwnL3SizeKiB();
    // The BSP has measured its own complex; the level's run refuses it, so it is not counted twice.
    Whole = CcxRunFunctionOnUnits(CCX_RUN_PER_COMPLEX, AddOwnL3Size, &Total).EveryUnitReached;
  } else {
    Total = L2L3::EdxL3Size512KiB::Get(Edx) * L2L3::L3SizeUnitKiB;
  }
  const UINTN Sockets = SocketCount(Whole);
  if (Sockets > 1) {
    Total /= Sockets;
  }
  return Total;
}

UINT8 L3Associativity() {
  UINT32 Ebx = 0;
  CpuidEx(CpuidLeaf::CacheProperties::Leaf, CpuidLeaf::CacheProperties::SubLeafL3, nullptr, &Ebx, nullptr, nullptr);
  return SmbiosAssociativity(static_cast<UINT32>(CpuidLeaf::CacheProperties::EbxWaysMinusOne::Get(Ebx)) + 1);
}

VOID FillRecord(CCX_SMBIOS_CACHE_INFO &Record, UINT16 Level, UINT64 SizeKiB, UINT8 Associativity) {
  const SMBIOS_CACHE_SIZE Size = SmbiosEncodeCacheSize(SizeKiB);
  Record.CacheConfiguration = static_cast<UINT16>(kCacheConfigurationBase | (Level - 1));
  Record.MaximumCacheSize = Size.Size16;
  Record.InstalledSize = Size.Size16;
  Record.SupportedSramType = kSramTypeSynchronous;
  Record.CurrentSramType = kSramTypeSynchronous;
  Record.CacheSpeed = kCacheSpeedUnknown;
  Record.ErrorCorrectionType = kErrorCorrectionMultiBit;
  Record.SystemCacheType = kSystemCacheUnified;
  Record.Associativity = Associativity;
  Record.MaximumCacheSize2 = Size.Size32;
  Record.InstalledSize2 = Size.Size32;
}

}  // namespace

SMBIOS_CACHE_SIZE SmbiosEncodeCacheSize(UINT64 SizeKiB) {
  UINT32 Encoded = static_cast<UINT32>(SizeKiB);
  if (SizeKiB >= kSize16Limit) {
    UINT64 Units = SizeKiB >> kKiBPer64KiBShift;
    if (Units > kMost64KiBUnits32) {
      Units = kMost64KiBUnits32;
    }
    Encoded = kGranularity64KiB32 | static_cast<UINT32>(Units);
  } else if (SizeKiB >= kSize64KiBFrom) {
    Encoded = kGranularity64KiB16 | static_cast<UINT32>((SizeKiB >> kKiBPer64KiBShift) & 0xFFFF);
  }
  if (Encoded > 0xFFFF) {
    return {0xFFFF, Encoded};
  }
  // The 32-bit form keeps its granularity flag in bit 31.
  return {static_cast<UINT16>(Encoded), ((Encoded & 0xFFFF8000) << 16) | (Encoded & 0x7FFF)};
}

UINT8 SmbiosAssociativity(UINT32 Ways) {
  for (const ASSOCIATIVITY_CODE &Entry : kAssociativityCodes) {
    if (Entry.Ways == Ways) {
      return Entry.Code;
    }
  }
  return kAssociativityUnknown;
}

EFI_STATUS EFIAPI GetCacheInfo(QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL *This, UINTN Socket, CCX_SMBIOS_CACHE_INFO *Info) {
  if (Info == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  UINT32 Ecx = 0;
  UINT32 Edx = 0;
  Cpuid(CpuidLeaf::AddressSizes, nullptr, nullptr, &Ecx, nullptr);
  const UINT32 Threads = static_cast<UINT32>(CpuidLeaf::AddressSizeFields::EcxNumberOfThreadsMinusOne::Get(Ecx)) + 1;

  using L1 = CpuidLeaf::L1CacheIdentifiers;
  Cpuid(L1::Leaf, nullptr, nullptr, &Ecx, &Edx);
  const UINT32 L1Size =
      Threads / SharingCount(CpuidLeaf::CacheProperties::SubLeafL1Data) * static_cast<UINT32>(L1::EcxL1DcSizeKiB::Get(Ecx)) +
      Threads / SharingCount(CpuidLeaf::CacheProperties::SubLeafL1Instruction) *
          static_cast<UINT32>(L1::EdxL1IcSizeKiB::Get(Edx));

  using L2L3 = CpuidLeaf::L2L3CacheIdentifiers;
  Cpuid(L2L3::Leaf, nullptr, nullptr, &Ecx, nullptr);
  const UINT32 L2Size =
      Threads / SharingCount(CpuidLeaf::CacheProperties::SubLeafL2) * static_cast<UINT32>(L2L3::EcxL2SizeKiB::Get(Ecx));

  FillRecord(Info[0], 1, L1Size, kAssociativity8Way);
  FillRecord(Info[1], 2, L2Size, kAssociativity8Way);
  BOOLEAN Whole = TRUE;
  FillRecord(Info[2], 3, L3SizeKiB(Whole), L3Associativity());
  if (!Whole) {
    PrintDebugMessage(DEBUG_INCOMPLETE_ANSWER,
                      "  ERROR: GetCacheInfo: the level-3 size is incomplete: a complex was not measured or the "
                      "sockets were not counted\n");
    return EFI_DEVICE_ERROR;
  }
  return EFI_SUCCESS;
}

}  // namespace CCX_IMAGE_NAMESPACE
