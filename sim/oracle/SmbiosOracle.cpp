#include "sim/oracle/SmbiosOracle.h"

#include <algorithm>

#include <bit>
#include <cstring>
#include <set>

#include "arch/Cpuid.h"
#include "arch/Msr.h"
#include "sim/oracle/AcpiProcessorPstates.h"
#include "sim/oracle/AnswerCheck.h"

namespace sim {
namespace {

constexpr uint8_t kCentralProcessor = 3;
constexpr uint16_t kFamily = 0x6B;
constexpr uint16_t kExternalClockMHz = 100;
constexpr uint8_t kPopulatedAndEnabled = 0x41;
constexpr uint16_t kCharacteristics = 0xFC;
constexpr char kManufacturer[] = "Qorvex, Inc.";
constexpr uint16_t kMHzPerMaxFidStep = 25;
// The voltage byte: bit 7 set, then tenths of a volt rounded.
constexpr uint8_t kVoltageInTenths = 0x80;
constexpr uint64_t kMicrovoltsPerTenth = 100000;
// The SMU register whose bit 8 says that simultaneous multithreading is off.
constexpr uint32_t kSmuSmtDisableRegister = 0x3008101C;
constexpr uint32_t kSmuSmtDisableBit = 1u << 8;
// The processor name string registers, eight characters each.
constexpr uint32_t kNameStringMsr = 0xC0010030;
constexpr unsigned kNameStringMsrs = 6;

constexpr uint16_t kCacheEnabledWriteBack = 0x0180;
constexpr uint16_t kSramOther = 0x0010;
constexpr uint8_t kCacheSpeedUnknown = 1;
constexpr uint8_t kMultiBitEcc = 6;
constexpr uint8_t kUnifiedCache = 5;
constexpr uint8_t kEightWay = 7;

using Cache = CpuidLeaf::CacheProperties;
using Threads = CpuidLeaf::AddressSizeFields;

uint8_t ProcessorUpgrade(const Processor &Bsp) {
  using Fields = CpuidLeaf::ExtendedSignatureFields;
  const CpuidValue Signature = Bsp.Cpuid(CpuidLeaf::ExtendedSignature, 0);
  const uint64_t Family = Fields::EaxBaseFamily::Get(Signature.Eax) + Fields::EaxExtendedFamily::Get(Signature.Eax);
  const uint64_t Package = Fields::EbxPkgType::Get(Signature.Ebx);
  if (Family == 0x19 && Fields::EaxExtendedModel::Get(Signature.Eax) == 7) {
    if (Package == 0) return 0x49;
    if (Package == 1 || Package == 4 || Package == 5) return 0x06;
    return 0x02;
  }
  switch (Package) {
    case 0: return 0x49;
    case 4: return 0x4A;
    case 8: return 0x4B;
    default: return 0x01;
  }
}

struct CoreCounts {
  uint32_t Cores = 0;
  uint32_t Enabled = 0;
  bool Smt = true;
};

// The socket's cores as the SOC service builds its complex dies and the fabric topology service
// runs them; the package-wide SOC answer when the topology never reports the socket.
CoreCounts CoreCountsOf(Platform &Machine, uint32_t Socket, const SiblingCallMark &Mark) {
  const sim::Machine &Description = Machine.Description();
  const Topology &Shape = Description.Shape;
  const bool Soc = Description.SiblingExists("soc");
  CoreCounts Counts;
  if (Description.SiblingExists("smu") && !Mark.Failed(Machine, SiblingQuery::SmuRegisterRead, 1)) {
    const auto Register = Description.Smu.Registers.find(kSmuSmtDisableRegister);
    if (Register != Description.Smu.Registers.end() && (Register->second & kSmuSmtDisableBit) != 0) Counts.Smt = false;
  }
  if (Description.SiblingExists("fabric_topology") && Socket < Shape.Count(TopologyLevel::Socket)) {
    TopologyPosition Die;
    Die.Socket = Socket;
    for (Die.Die = 0; Die.Die < Shape.Count(TopologyLevel::Die, Die) && Soc; Die.Die++) {
      // The walk stops at the die whose SOC answer failed.
      if (Mark.Failed(Machine, SiblingQuery::SocDieCoreInfo, Die.Die + 1)) break;
      if (!Machine.Soc().SmtEnabled()) Counts.Smt = false;
      TopologyPosition ComplexDie = Die;
      for (; ComplexDie.ComplexDie < Shape.Count(TopologyLevel::ComplexDie, Die); ComplexDie.ComplexDie++) {
        Counts.Cores += Machine.Soc().CoresPerComplexDie() - std::popcount(Machine.Soc().CoreDisableMask(ComplexDie));
        TopologyPosition Complex = ComplexDie;
        for (; Complex.Complex < Shape.Count(TopologyLevel::Complex, ComplexDie); Complex.Complex++) {
          Counts.Enabled += Shape.Count(TopologyLevel::Core, Complex);
        }
      }
    }
  }
  if (Counts.Cores != 0) return Counts;
  if (Soc && !Mark.Failed(Machine, SiblingQuery::SocCoreCountInfo, 1)) {
    const uint32_t PerComplexDie =
        Machine.Soc().CoresPerComplexDie() - std::popcount(Machine.Soc().CoreDisableMask(TopologyPosition{}));
    Counts.Cores = Counts.Enabled = PerComplexDie * Shape.Count(TopologyLevel::ComplexDie, TopologyPosition{});
    if (!Machine.Soc().SmtEnabled()) Counts.Smt = false;
    return Counts;
  }
  const Processor &Bsp = Machine.Processors().At(0);
  const uint32_t PackageThreads =
      uint32_t(Threads::EcxNumberOfThreadsMinusOne::Get(Bsp.Cpuid(CpuidLeaf::AddressSizes, 0).Ecx)) + 1;
  const uint32_t PerCore = uint32_t(CpuidLeaf::ProcessorTopology::EbxThreadsPerCoreMinusOne::Get(
                               Bsp.Cpuid(CpuidLeaf::ProcessorTopology::Leaf, 0).Ebx)) +
                           1;
  Counts.Cores = Counts.Enabled = PackageThreads / PerCore;
  if (Counts.Cores == PackageThreads) Counts.Smt = false;
  return Counts;
}

// The logical processors of the package that share the cache of one cache-properties sub-leaf.
uint64_t SharingOf(const Processor &Bsp, uint32_t SubLeaf) {
  return Cache::EaxNumSharingCacheMinusOne::Get(Bsp.Cpuid(Cache::Leaf, SubLeaf).Eax) + 1;
}

}  // namespace

namespace {

uint64_t LevelThreeKiB(const Processor &Where) {
  const CpuidValue Value = Where.Cpuid(Cache::Leaf, Cache::SubLeafL3);
  return (Cache::EbxLineSizeMinusOne::Get(Value.Ebx) + 1) * (Cache::EbxWaysMinusOne::Get(Value.Ebx) + 1) *
         (uint64_t(Value.Ecx) + 1) / 1024;
}

// The level-3 total of the package: every complex's own cache once, measured on its first
// processor, when the identifiers send software to the cache-properties leaf; the identifiers'
// size otherwise. The machine-wide sum is shared out over the sockets.
uint64_t LevelThreeTotalKiB(Platform &Machine, const SiblingCallMark &Mark) {
  using Identifiers = CpuidLeaf::L2L3CacheIdentifiers;
  ProcessorSet &Processors = Machine.Processors();
  const uint32_t Edx = Processors.At(0).Cpuid(Identifiers::Leaf, 0).Edx;
  uint64_t Total = 0;
  if (Identifiers::EdxL3Assoc::Get(Edx) == Identifiers::L3AssocSeeCacheProperties) {
    std::set<TopologyPosition> Measured;
    for (size_t Index = 0; Index < Processors.Count(); Index++) {
      const Processor &Candidate = Processors.At(Index);
      if (Measured.insert(Candidate.Position().ParentOf(TopologyLevel::Core)).second) Total += LevelThreeKiB(Candidate);
    }
  } else {
    Total = Identifiers::EdxL3Size512KiB::Get(Edx) * Identifiers::L3SizeUnitKiB;
  }
  const bool Counted = Machine.Description().SiblingExists("fabric_system") &&
                       !Mark.Failed(Machine, SiblingQuery::SystemInfo, 1);
  const uint32_t Sockets = Counted ? Machine.Description().Shape.Count(TopologyLevel::Socket) : 1;
  return Sockets > 1 ? Total / Sockets : Total;
}

uint8_t LevelThreeAssociativity(const Processor &Bsp) {
  const uint64_t Ways = Cache::EbxWaysMinusOne::Get(Bsp.Cpuid(Cache::Leaf, Cache::SubLeafL3).Ebx) + 1;
  switch (Ways) {
    case 1: return 0x03;
    case 2: return 0x04;
    case 4: return 0x05;
    case 8: return 0x07;
    case 12: return 0x09;
    case 16: return 0x08;
    case 20: return 0x0E;
    case 24: return 0x0A;
    case 32: return 0x0B;
    case 48: return 0x0C;
    case 64: return 0x0D;
    default: return 0x02;
  }
}

CCX_SMBIOS_CACHE_INFO CacheRecord(unsigned Level, uint64_t KiB, uint8_t Associativity) {
  const EncodedCacheSize Size = EncodeCacheSize(KiB);
  CCX_SMBIOS_CACHE_INFO Record{};
  Record.CacheConfiguration = uint16_t(kCacheEnabledWriteBack | Level);
  Record.MaximumCacheSize = Record.InstalledSize = Size.Size16;
  Record.SupportedSramType = Record.CurrentSramType = kSramOther;
  Record.CacheSpeed = kCacheSpeedUnknown;
  Record.ErrorCorrectionType = kMultiBitEcc;
  Record.SystemCacheType = kUnifiedCache;
  Record.Associativity = Associativity;
  Record.MaximumCacheSize2 = Record.InstalledSize2 = Size.Size32;
  return Record;
}

std::string FieldText(const CHAR8 *Field, size_t Width) { return std::string(Field, strnlen(Field, Width)); }

// The bytes after the text's terminating NUL that are not NUL.
uint64_t PaddingNotNul(const CHAR8 *Field, size_t Width) {
  uint64_t Count = 0;
  for (size_t Index = strnlen(Field, Width); Index < Width; Index++) Count += Field[Index] != 0;
  return Count;
}

}  // namespace

EncodedCacheSize EncodeCacheSize(uint64_t KiB) {
  uint64_t Encoded = 0;
  if (KiB < 0x8000) {
    Encoded = KiB;
  } else if (KiB < 0x1FFC00) {
    Encoded = 0x8000 | ((KiB >> 6) & 0xFFFF);
  } else {
    // 31 bits of 64 KiB units at most: a larger size reads as the largest the field holds.
    Encoded = 0x80000000 | std::min<uint64_t>(KiB >> 6, 0x7FFFFFFF);
  }
  EncodedCacheSize Size;
  if (Encoded > 0xFFFF) {
    Size.Size16 = 0xFFFF;
    Size.Size32 = uint32_t(Encoded);
  } else {
    Size.Size16 = uint16_t(Encoded);
    Size.Size32 = uint32_t(((Encoded & 0xFFFF8000) << 16) | (Encoded & 0x7FFF));
  }
  return Size;
}

CCX_SMBIOS_PROCESSOR_INFO ExpectedProcessorInfo(Platform &Machine, uint32_t Socket, const SiblingCallMark &Mark) {
  const Processor &Bsp = Machine.Processors().At(0);
  CCX_SMBIOS_PROCESSOR_INFO Info{};
  Info.ProcessorType = kCentralProcessor;
  Info.ProcessorFamily = kFamily;
  const CpuidValue Features = Bsp.Cpuid(CpuidLeaf::Features::Leaf, 0);
  Info.ProcessorIdLow = Features.Eax;
  Info.ProcessorIdHigh = Features.Edx;
  // A P-state 0 that is not enabled leaves both figures at zero.
  const PstateFigures P0 = DecodePstate(0, ExpectedPstateRegisters(Machine), OverclockItemsOf(Machine.Description().Pcd))
                               .value_or(PstateFigures{});
  Info.Voltage = uint8_t(kVoltageInTenths + (P0.VoltageUv + kMicrovoltsPerTenth / 2) / kMicrovoltsPerTenth);
  Info.ExternalClock = kExternalClockMHz;
  Info.CurrentSpeed = uint16_t(P0.FrequencyMHz);
  Info.MaxSpeed = Machine.Description().SiblingExists("soc") && !Mark.Failed(Machine, SiblingQuery::SocMaxCoreFid, 1)
                      ? uint16_t(Machine.Description().Soc.MaxCoreFid * kMHzPerMaxFidStep)
                      : Info.CurrentSpeed;
  Info.Status = kPopulatedAndEnabled;
  Info.ProcessorUpgrade = ProcessorUpgrade(Bsp);
  const CoreCounts Counts = CoreCountsOf(Machine, Socket, Mark);
  Info.CoreCount = uint16_t(Counts.Cores);
  Info.CoreEnabled = uint16_t(Counts.Enabled);
  Info.ThreadCount = uint16_t(Counts.Smt ? Counts.Enabled << 1 : Counts.Enabled);
  Info.ProcessorCharacteristics = kCharacteristics;
  for (unsigned Index = 0; Index < kNameStringMsrs; Index++) {
    const uint64_t Characters = Bsp.PeekMsr(kNameStringMsr + Index).value_or(0);
    std::memcpy(&Info.ProcessorVersion[8 * Index], &Characters, sizeof(Characters));
  }
  std::memcpy(Info.Manufacturer, kManufacturer, sizeof(kManufacturer));
  return Info;
}

void ExpectedCacheInfo(Platform &Machine, CCX_SMBIOS_CACHE_INFO (&Caches)[CCX_SMBIOS_CACHE_LEVELS],
                       const SiblingCallMark &Mark) {
  using L1 = CpuidLeaf::L1CacheIdentifiers;
  using L2L3 = CpuidLeaf::L2L3CacheIdentifiers;
  const Processor &Bsp = Machine.Processors().At(0);
  const uint64_t PackageThreads =
      Threads::EcxNumberOfThreadsMinusOne::Get(Bsp.Cpuid(CpuidLeaf::AddressSizes, 0).Ecx) + 1;
  const CpuidValue LevelOne = Bsp.Cpuid(L1::Leaf, 0);
  const uint64_t LevelOneKiB =
      PackageThreads / SharingOf(Bsp, Cache::SubLeafL1Data) * L1::EcxL1DcSizeKiB::Get(LevelOne.Ecx) +
      PackageThreads / SharingOf(Bsp, Cache::SubLeafL1Instruction) * L1::EdxL1IcSizeKiB::Get(LevelOne.Edx);
  const uint64_t LevelTwoKiB =
      PackageThreads / SharingOf(Bsp, Cache::SubLeafL2) * L2L3::EcxL2SizeKiB::Get(Bsp.Cpuid(L2L3::Leaf, 0).Ecx);
  Caches[0] = CacheRecord(0, LevelOneKiB, kEightWay);
  Caches[1] = CacheRecord(1, LevelTwoKiB, kEightWay);
  Caches[2] = CacheRecord(2, LevelThreeTotalKiB(Machine, Mark), LevelThreeAssociativity(Bsp));
}

uint64_t ExpectedCacheInfoStatus(Platform &Machine, const SiblingCallMark &Mark) {
  using Identifiers = CpuidLeaf::L2L3CacheIdentifiers;
  const sim::Machine &Description = Machine.Description();
  const uint32_t Edx = Machine.Processors().At(0).Cpuid(Identifiers::Leaf, 0).Edx;
  bool Whole = Description.SiblingExists("fabric_system") && !Mark.AnyFailed(Machine, SiblingQuery::SystemInfo);
  if (Identifiers::EdxL3Assoc::Get(Edx) == Identifiers::L3AssocSeeCacheProperties) {
    // The complexes are reached along the fabric topology; a lost count leaves some out.
    Whole = Whole && Description.SiblingExists("mp_services");
    for (SiblingQuery Count : {SiblingQuery::TopologySockets, SiblingQuery::TopologyDies,
                               SiblingQuery::TopologyComplexDies, SiblingQuery::TopologyComplexes,
                               SiblingQuery::TopologyCores, SiblingQuery::TopologyThreads}) {
      Whole = Whole && !Mark.AnyFailed(Machine, Count);
    }
  }
  return Whole ? EFI_SUCCESS : EFI_DEVICE_ERROR;
}

void CheckProcessorInfo(Platform &Machine, uint32_t Socket, const SiblingCallMark &Mark, uint64_t Status,
                        const CCX_SMBIOS_PROCESSOR_INFO &Received, std::vector<std::string> &Errors) {
  AnswerCheck Check("GetProcessorInfo", Errors);
  const std::string Record = "socket " + std::to_string(Socket) + " processor";
  Check.Field(Record, "status", 0, Status);
  const CCX_SMBIOS_PROCESSOR_INFO Expected = ExpectedProcessorInfo(Machine, Socket, Mark);
  Check.Field(Record, "ProcessorType", Expected.ProcessorType, Received.ProcessorType);
  Check.Field(Record, "ProcessorFamily", Expected.ProcessorFamily, Received.ProcessorFamily);
  Check.Field(Record, "ProcessorIdLow", Expected.ProcessorIdLow, Received.ProcessorIdLow);
  Check.Field(Record, "ProcessorIdHigh", Expected.ProcessorIdHigh, Received.ProcessorIdHigh);
  Check.Field(Record, "Voltage", Expected.Voltage, Received.Voltage);
  Check.Field(Record, "ExternalClock", Expected.ExternalClock, Received.ExternalClock);
  Check.Field(Record, "MaxSpeed", Expected.MaxSpeed, Received.MaxSpeed);
  Check.Field(Record, "CurrentSpeed", Expected.CurrentSpeed, Received.CurrentSpeed);
  Check.Field(Record, "Status", Expected.Status, Received.Status);
  Check.Field(Record, "ProcessorUpgrade", Expected.ProcessorUpgrade, Received.ProcessorUpgrade);
  Check.Field(Record, "CoreCount", Expected.CoreCount, Received.CoreCount);
  Check.Field(Record, "CoreEnabled", Expected.CoreEnabled, Received.CoreEnabled);
  Check.Field(Record, "ThreadCount", Expected.ThreadCount, Received.ThreadCount);
  Check.Field(Record, "ProcessorCharacteristics", Expected.ProcessorCharacteristics, Received.ProcessorCharacteristics);
  // The version is the name-string registers' bytes as they stand, NULs included.
  for (unsigned Index = 0; Index < kNameStringMsrs; Index++) {
    uint64_t Want = 0;
    uint64_t Got = 0;
    std::memcpy(&Want, &Expected.ProcessorVersion[8 * Index], sizeof(Want));
    std::memcpy(&Got, &Received.ProcessorVersion[8 * Index], sizeof(Got));
    Check.Field(Record, "ProcessorVersion bytes " + std::to_string(8 * Index) + "-" + std::to_string(8 * Index + 7),
                Want, Got);
  }
  Check.Text(Record, "Manufacturer", FieldText(Expected.Manufacturer, CCX_SMBIOS_MANUFACTURER_LENGTH),
             FieldText(Received.Manufacturer, CCX_SMBIOS_MANUFACTURER_LENGTH));
  Check.Field(Record, "Manufacturer padding bytes that are not NUL", 0,
              PaddingNotNul(Received.Manufacturer, CCX_SMBIOS_MANUFACTURER_LENGTH));
}

void CheckCacheInfo(Platform &Machine, uint32_t Socket, const SiblingCallMark &Mark, uint64_t Status,
                    const CCX_SMBIOS_CACHE_INFO (&Received)[CCX_SMBIOS_CACHE_LEVELS], std::vector<std::string> &Errors) {
  AnswerCheck Check("GetCacheInfo", Errors);
  const uint64_t ExpectedStatus = ExpectedCacheInfoStatus(Machine, Mark);
  Check.Field("socket " + std::to_string(Socket) + " caches", "status", ExpectedStatus, Status);
  CCX_SMBIOS_CACHE_INFO Expected[CCX_SMBIOS_CACHE_LEVELS];
  ExpectedCacheInfo(Machine, Expected, Mark);
  for (unsigned Level = 0; Level < CCX_SMBIOS_CACHE_LEVELS; Level++) {
    const CCX_SMBIOS_CACHE_INFO &Want = Expected[Level];
    const CCX_SMBIOS_CACHE_INFO &Got = Received[Level];
    const std::string Record = "socket " + std::to_string(Socket) + " level " + std::to_string(Level + 1) + " cache";
    // An answer that says its level-3 size is incomplete holds whatever part it could measure.
    const bool SizeIsWhole = Level + 1 < CCX_SMBIOS_CACHE_LEVELS || !EFI_ERROR(ExpectedStatus);
    Check.Field(Record, "CacheConfiguration", Want.CacheConfiguration, Got.CacheConfiguration);
    if (SizeIsWhole) {
      Check.Field(Record, "MaximumCacheSize", Want.MaximumCacheSize, Got.MaximumCacheSize);
      Check.Field(Record, "InstalledSize", Want.InstalledSize, Got.InstalledSize);
      Check.Field(Record, "MaximumCacheSize2", Want.MaximumCacheSize2, Got.MaximumCacheSize2);
      Check.Field(Record, "InstalledSize2", Want.InstalledSize2, Got.InstalledSize2);
    }
    Check.Field(Record, "SupportedSramType", Want.SupportedSramType, Got.SupportedSramType);
    Check.Field(Record, "CurrentSramType", Want.CurrentSramType, Got.CurrentSramType);
    Check.Field(Record, "CacheSpeed", Want.CacheSpeed, Got.CacheSpeed);
    Check.Field(Record, "ErrorCorrectionType", Want.ErrorCorrectionType, Got.ErrorCorrectionType);
    Check.Field(Record, "SystemCacheType", Want.SystemCacheType, Got.SystemCacheType);
    Check.Field(Record, "Associativity", Want.Associativity, Got.Associativity);
  }
}

}  // namespace sim
