// The processor information record of the SMBIOS service: identity and speeds from the processor
// itself and the SOC service, the core counts from SmbiosCountCores, the name from the processor's
// name registers.
#include "services/SmbiosServices.h"

#include "arch/Cpuid.h"
#include "arch/Memory.h"
#include "arch/Msr.h"
#include "arch/Processor.h"
#include "debug/FatalStop.h"
#include "driver/ImageState.h"
#include "interfaces/QorvexGuids.h"
#include "interfaces/SmuServices.h"
#include "services/PstateFrequency.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kFatalNoSocServices = 0x307E0178;
constexpr UINT32 kFatalNoSmuServices = 0x307E0181;

constexpr UINT8 kProcessorTypeCentral = 3;
constexpr UINT16 kProcessorFamily = 0x6B;
constexpr UINT16 kExternalClockMHz = 100;
constexpr UINT16 kMHzPerFid = 25;
// Socket populated, processor enabled.
constexpr UINT8 kStatusPopulatedEnabled = 0x41;
constexpr UINT16 kCharacteristics = 0xFC;
// Voltages are given in tenths of a volt with bit 7 set, rounded to the nearest tenth.
constexpr UINT8 kVoltageTenthsFlag = 0x80;
constexpr UINT64 kMicrovoltsPerTenth = 100000;

// The SMU register whose bit 8 says that the second thread of every core is fused off.
constexpr UINT32 kSmuThreadConfigRegister = 0x3008101C;
constexpr UINT32 kSmuSingleThreadBit = 1U << 8;

constexpr CHAR8 kManufacturer[] = "Qorvex, Inc.";
static_assert(sizeof(kManufacturer) <= CCX_SMBIOS_MANUFACTURER_LENGTH, "the manufacturer fits its field");

// The processor upgrade codes: the family and model of the Rell generation, and its packages.
constexpr UINT32 kRellFamily = 0x19;
constexpr UINT32 kRellExtendedModel = 7;
constexpr UINT8 kUpgradeOther = 0x01;
constexpr UINT8 kUpgradeUnknown = 0x02;
constexpr UINT8 kUpgradeNone = 0x06;
constexpr UINT8 kUpgradeSocketA = 0x49;
constexpr UINT8 kUpgradeSocketB = 0x4A;
constexpr UINT8 kUpgradeSocketC = 0x4B;

VOID ReadProcessorName(CHAR8 *Version) {
  for (UINT32 Register = 0; Register < Msr::ProcessorName::Count; Register++) {
    const UINT64 Value = AsmReadMsr64(Msr::ProcessorName::FirstNumber + Register);
    for (UINT32 Byte = 0; Byte < sizeof(UINT64); Byte++) {
      Version[Register * sizeof(UINT64) + Byte] = static_cast<CHAR8>(Value >> (8 * Byte));
    }
  }
}

}  // namespace

const QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL gCcxSmbiosServicesProtocol = {
    QORVEX_CCX_SMBIOS_SERVICES_REVISION,
    GetProcessorInfo,
    GetCacheInfo,
};

UINT8 SmbiosProcessorUpgrade(UINT32 SignatureEax, UINT32 SignatureEbx) {
  using Fields = CpuidLeaf::ExtendedSignatureFields;
  const UINT64 Family = Fields::EaxBaseFamily::Get(SignatureEax) + Fields::EaxExtendedFamily::Get(SignatureEax);
  const UINT64 Package = Fields::EbxPkgType::Get(SignatureEbx);
  if (Family == kRellFamily && Fields::EaxExtendedModel::Get(SignatureEax) == kRellExtendedModel) {
    switch (Package) {
      case 0:
        return kUpgradeSocketA;
      case 1:
      case 4:
      case 5:
        return kUpgradeNone;
      default:
        return kUpgradeUnknown;
    }
  }
  switch (Package) {
    case 0:
      return kUpgradeSocketA;
    case 4:
      return kUpgradeSocketB;
    case 8:
      return kUpgradeSocketC;
    default:
      return kUpgradeOther;
  }
}

EFI_STATUS EFIAPI GetProcessorInfo(QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL *This, UINTN Socket,
                                   CCX_SMBIOS_PROCESSOR_INFO *Info, VOID *Reserved) {
  if (Info == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  QORVEX_SOC_SERVICES_PROTOCOL *Soc = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gQorvexSocServicesProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Soc)))) {
    FatalStop(kFatalNoSocServices);
    Soc = nullptr;
  }
  QORVEX_SMU_SERVICES_PROTOCOL *Smu = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gQorvexSmuServicesProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Smu)))) {
    FatalStop(kFatalNoSmuServices);
    Smu = nullptr;
  }

  UINT32 Eax = 0;
  UINT32 Ebx = 0;
  UINT32 Edx = 0;
  Cpuid(CpuidLeaf::Features::Leaf, &Eax, nullptr, nullptr, &Edx);
  Info->ProcessorType = kProcessorTypeCentral;
  Info->ProcessorFamily = kProcessorFamily;
  Info->ProcessorIdLow = Eax;
  Info->ProcessorIdHigh = Edx;

  // A part whose P-state 0 is off reports no speed and no voltage rather than stale values.
  UINT64 FrequencyMHz = 0;
  UINT64 VoltageUv = 0;
  UINT64 PowerMw = 0;
  RellGetPstateFrequency(nullptr, 0, &FrequencyMHz, &VoltageUv, &PowerMw);
  Info->CurrentSpeed = static_cast<UINT16>(FrequencyMHz);
  Info->Voltage = static_cast<UINT8>(kVoltageTenthsFlag + (VoltageUv + kMicrovoltsPerTenth / 2) / kMicrovoltsPerTenth);
  UINT16 MaxCoreFid = 0;
  if (Soc != nullptr && Soc->GetMaxCoreFid(Soc, &MaxCoreFid) == EFI_SUCCESS) {
    Info->MaxSpeed = static_cast<UINT16>(MaxCoreFid * kMHzPerFid);
  } else {
    Info->MaxSpeed = Info->CurrentSpeed;
  }
  Info->ExternalClock = kExternalClockMHz;
  Info->Status = kStatusPopulatedEnabled;

  Cpuid(CpuidLeaf::ExtendedSignature, &Eax, &Ebx, nullptr, nullptr);
  Info->ProcessorUpgrade = SmbiosProcessorUpgrade(Eax, Ebx);

  UINT32 SmuValue = 0;
  const BOOLEAN FusedSingleThread =
      Smu != nullptr && Smu->SmuRegisterRead(Smu, 0, kSmuThreadConfigRegister, &SmuValue) == EFI_SUCCESS &&
      (SmuValue & kSmuSingleThreadBit) != 0;
  SMBIOS_CORE_COUNTS Counts = SmbiosCountCores(Socket, Soc);
  if (FusedSingleThread) {
    Counts.Multithreading = FALSE;
  }
  Info->CoreCount = Counts.CoreCount;
  Info->CoreEnabled = Counts.CoresEnabled;
  Info->ThreadCount = static_cast<UINT16>(Counts.Multithreading ? Counts.CoresEnabled << 1 : Counts.CoresEnabled);
  Info->ProcessorCharacteristics = kCharacteristics;
  ReadProcessorName(Info->ProcessorVersion);
  ZeroMemory(Info->Manufacturer, CCX_SMBIOS_MANUFACTURER_LENGTH);
  CopyMemory(Info->Manufacturer, kManufacturer, sizeof(kManufacturer));
  // The record is filled as far as the counts go; an error says that the cores are not all in it.
  return Counts.Status;
}

}  // namespace CCX_IMAGE_NAMESPACE
