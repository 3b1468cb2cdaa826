// The PCCT, HEST and SMBIOS builders catch a wrong answer: boots in which one field of one answer
// of the driver's service is changed on its way to the builder, through a copy of the service
// record reinstalled in the protocol database, must end with the named difference. Clean boots of
// every example machine end with none, and the figures the machine gives are the ones worked out
// by hand from its registers.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "driver/ImageDescriptor.h"
#include "interfaces/QorvexGuids.h"
#include "tests/sim/oracle/ReplaceInstalled.h"
#include "sim/consumers/PlatformTables.h"
#include "sim/oracle/AnswerCheck.h"
#include "sim/oracle/PcctHestOracle.h"
#include "sim/oracle/SmbiosOracle.h"
#include "sim/platform/BootRunner.h"

namespace sim {
namespace {

struct BuiltTables {
  PcctTable Pcct;
  HestTable Hest;
  SmbiosTables Smbios;
  std::vector<std::string> All() const {
    std::vector<std::string> Errors = Pcct.Errors;
    Errors.insert(Errors.end(), Hest.Errors.begin(), Hest.Errors.end());
    Errors.insert(Errors.end(), Smbios.Errors.begin(), Smbios.Errors.end());
    return Errors;
  }
};

// The one change a case makes, and the original service it wraps. The wrappers are EFIAPI
// functions and cannot capture, so they find both here.
std::function<void(CCX_SMBIOS_PROCESSOR_INFO &)> ChangeProcessor;
std::function<void(CCX_SMBIOS_CACHE_INFO *)> ChangeCaches;
std::function<void(CCX_PCCT_GENERIC_SUBSPACE &)> ChangeSubspace;
std::function<void(CCX_MCA_BANK_INFO &, CCX_MCA_BANK_ENTRY *)> ChangeBanks;
QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL *OriginalSmbios = nullptr;
QORVEX_CCX_PCCT_SERVICES_PROTOCOL *OriginalPcct = nullptr;
QORVEX_CCX_MCA_SERVICES_PROTOCOL *OriginalMca = nullptr;
CCX_MCA_BANK_INFO ChangedInfo;
CCX_MCA_BANK_ENTRY ChangedBanks[kMcaBanks];

EFI_STATUS EFIAPI ChangedProcessorInfo(QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL *, UINTN Socket,
                                       CCX_SMBIOS_PROCESSOR_INFO *Info, VOID *Reserved) {
  const EFI_STATUS Status = OriginalSmbios->GetProcessorInfo(OriginalSmbios, Socket, Info, Reserved);
  if (ChangeProcessor) ChangeProcessor(*Info);
  return Status;
}

EFI_STATUS EFIAPI ChangedCacheInfo(QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL *, UINTN Socket, CCX_SMBIOS_CACHE_INFO *Info) {
  const EFI_STATUS Status = OriginalSmbios->GetCacheInfo(OriginalSmbios, Socket, Info);
  if (ChangeCaches) ChangeCaches(Info);
  return Status;
}

EFI_STATUS EFIAPI ChangedSubspace(QORVEX_CCX_PCCT_SERVICES_PROTOCOL *, VOID *Reserved,
                                  CONST CCX_PCC_SUBSPACE_INPUT *Input, UINT8 **Cursor) {
  UINT8 *const Start = *Cursor;
  const EFI_STATUS Status = OriginalPcct->AddGenCommSubspaceStruct(OriginalPcct, Reserved, Input, Cursor);
  if (!EFI_ERROR(Status)) ChangeSubspace(*reinterpret_cast<CCX_PCCT_GENERIC_SUBSPACE *>(Start));
  return Status;
}

EFI_STATUS EFIAPI ChangedBankInfo(QORVEX_CCX_MCA_SERVICES_PROTOCOL *, CONST CCX_MCA_BANK_INFO **Info) {
  const EFI_STATUS Status = OriginalMca->GetMcaBankInfo(OriginalMca, Info);
  ChangedInfo = **Info;
  std::copy((*Info)->Banks, (*Info)->Banks + kMcaBanks, ChangedBanks);
  ChangedInfo.Banks = ChangedBanks;
  ChangeBanks(ChangedInfo, ChangedBanks);
  *Info = &ChangedInfo;
  return Status;
}

// Boots Description and builds the three tables, with the service records that the set changes
// point at replaced by wrappers first.
BuiltTables BootAndBuild(const Machine &Description) {
  BuiltTables Tables;
  BootOptions Options;
  Options.AfterBoot = [&Tables](Platform &Machine) {
    QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL SmbiosCopy{};
    QORVEX_CCX_PCCT_SERVICES_PROTOCOL PcctCopy{};
    QORVEX_CCX_MCA_SERVICES_PROTOCOL McaCopy{};
    if (ChangeProcessor || ChangeCaches) {
      OriginalSmbios = ReplaceInstalled(Machine, gQorvexCcxSmbiosServicesProtocolGuid, SmbiosCopy);
      ASSERT_NE(OriginalSmbios, nullptr);
      SmbiosCopy.GetProcessorInfo = ChangedProcessorInfo;
      SmbiosCopy.GetCacheInfo = ChangedCacheInfo;
    }
    if (ChangeSubspace) {
      OriginalPcct = ReplaceInstalled(Machine, gQorvexCcxPcctServicesProtocolGuid, PcctCopy);
      ASSERT_NE(OriginalPcct, nullptr);
      PcctCopy.AddGenCommSubspaceStruct = ChangedSubspace;
    }
    if (ChangeBanks) {
      OriginalMca = ReplaceInstalled(Machine, gQorvexCcxMcaServicesProtocolGuid, McaCopy);
      ASSERT_NE(OriginalMca, nullptr);
      McaCopy.GetMcaBankInfo = ChangedBankInfo;
    }
    Tables.Pcct = BuildPcct(Machine);
    Tables.Hest = BuildHest(Machine);
    Tables.Smbios = BuildSmbios(Machine);
  };
  RunBoot(Description, CcxImageDescriptor, Options);
  return Tables;
}

class PlatformTablesOracle : public ::testing::Test {
 protected:
  void TearDown() override {
    ChangeProcessor = nullptr;
    ChangeCaches = nullptr;
    ChangeSubspace = nullptr;
    ChangeBanks = nullptr;
  }
  // Expects exactly the one sentence; Was and Now are the field before and after the change (pass
  // values that the boot captured only once the boot is over).
  static void ExpectOnly(const BuiltTables &Tables, const std::string &Prefix, uint64_t Was, uint64_t Now) {
    const std::vector<std::string> Errors = Tables.All();
    ASSERT_EQ(Errors.size(), 1u) << ::testing::PrintToString(Errors);
    EXPECT_EQ(Errors[0], Prefix + ": expected " + ShownValue(Was) + ", received " + ShownValue(Now));
  }
};

TEST_F(PlatformTablesOracle, ChangedCoreCountIsNamed) {
  uint16_t Was = 0;
  ChangeProcessor = [&Was](CCX_SMBIOS_PROCESSOR_INFO &Info) { Was = Info.CoreEnabled++; };
  const BuiltTables Tables = BootAndBuild(DefaultMachine());
  ExpectOnly(Tables, "GetProcessorInfo socket 0 processor CoreEnabled", Was, Was + 1);
}

TEST_F(PlatformTablesOracle, ChangedSpeedAndVoltageAreNamed) {
  ChangeProcessor = [](CCX_SMBIOS_PROCESSOR_INFO &Info) { Info.CurrentSpeed = 1234; };
  ExpectOnly(BootAndBuild(DefaultMachine()), "GetProcessorInfo socket 0 processor CurrentSpeed", 3600, 1234);
  ChangeProcessor = [](CCX_SMBIOS_PROCESSOR_INFO &Info) { Info.Voltage = 0x8B; };
  ExpectOnly(BootAndBuild(DefaultMachine()), "GetProcessorInfo socket 0 processor Voltage", 0x86, 0x8B);
}

TEST_F(PlatformTablesOracle, ChangedVersionStringIsNamed) {
  ChangeProcessor = [](CCX_SMBIOS_PROCESSOR_INFO &Info) { Info.ProcessorVersion[9] = 'X'; };
  const std::vector<std::string> Errors = BootAndBuild(DefaultMachine()).All();
  ASSERT_EQ(Errors.size(), 1u) << ::testing::PrintToString(Errors);
  EXPECT_EQ(Errors[0].rfind("GetProcessorInfo socket 0 processor ProcessorVersion bytes 8-15: expected ", 0), 0u);
}

TEST_F(PlatformTablesOracle, ChangedCountOnTheSecondSocketIsNamed) {
  uint16_t Was = 0;
  unsigned Calls = 0;
  ChangeProcessor = [&Was, &Calls](CCX_SMBIOS_PROCESSOR_INFO &Info) {
    if (Calls++ == 1) Was = Info.ThreadCount--;  // socket 1's record only
  };
  const BuiltTables Tables = BootAndBuild(LoadMachineFile(std::string(CCX_MACHINES_DIR) + "/two-socket.json"));
  ExpectOnly(Tables, "GetProcessorInfo socket 1 processor ThreadCount", Was, Was - 1);
}

TEST_F(PlatformTablesOracle, ChangedCacheAssociativityAndSizeAreNamed) {
  ChangeCaches = [](CCX_SMBIOS_CACHE_INFO *Caches) { Caches[2].Associativity = 0x07; };
  ExpectOnly(BootAndBuild(DefaultMachine()), "GetCacheInfo socket 0 level 3 cache Associativity", 0x08, 0x07);
  uint32_t Was = 0;
  ChangeCaches = [&Was](CCX_SMBIOS_CACHE_INFO *Caches) { Was = Caches[0].InstalledSize2++; };
  const BuiltTables Tables = BootAndBuild(DefaultMachine());
  ExpectOnly(Tables, "GetCacheInfo socket 0 level 1 cache InstalledSize2", Was, Was + 1);
}

TEST_F(PlatformTablesOracle, ChangedSubspaceFieldsAreNamed) {
  uint64_t Was = 0;
  ChangeSubspace = [&Was](CCX_PCCT_GENERIC_SUBSPACE &Subspace) { Was = Subspace.NominalLatency++; };
  const BuiltTables Tables = BootAndBuild(DefaultMachine());
  ExpectOnly(Tables, "AddGenCommSubspaceStruct subspace NominalLatency", Was, Was + 1);
  ChangeSubspace = [](CCX_PCCT_GENERIC_SUBSPACE &Subspace) { Subspace.DoorbellRegister.AccessSize = 3; };
  ExpectOnly(BootAndBuild(DefaultMachine()), "AddGenCommSubspaceStruct subspace DoorbellRegister.AccessSize", 4, 3);
}

TEST_F(PlatformTablesOracle, SubspaceBaseOutsideTheSharedRegionIsNamed) {
  uint64_t Was = 0;
  ChangeSubspace = [&Was](CCX_PCCT_GENERIC_SUBSPACE &Subspace) {
    Was = Subspace.BaseAddress;
    Subspace.BaseAddress += 0x8000;
  };
  const BuiltTables Tables = BootAndBuild(DefaultMachine());
  ExpectOnly(Tables, "AddGenCommSubspaceStruct subspace BaseAddress", Was, Was + 0x8000);
}

// The region the subspace points at is checked too: a signature the service did not leave there.
TEST_F(PlatformTablesOracle, UnsignedSharedRegionIsNamed) {
  ChangeSubspace = [](CCX_PCCT_GENERIC_SUBSPACE &Subspace) {
    *reinterpret_cast<uint32_t *>(static_cast<uintptr_t>(Subspace.BaseAddress)) = 0x50434301;
  };
  ExpectOnly(BootAndBuild(DefaultMachine()), "AddGenCommSubspaceStruct shared region signature", 0x50434300,
             0x50434301);
}

TEST_F(PlatformTablesOracle, ChangedBankIsNamed) {
  ChangeBanks = [](CCX_MCA_BANK_INFO &, CCX_MCA_BANK_ENTRY *Banks) { Banks[4].ControlInitData = ~0ULL; };
  ExpectOnly(BootAndBuild(DefaultMachine()), "GetMcaBankInfo bank 4 ControlInitData", 0, ~0ULL);
  ChangeBanks = [](CCX_MCA_BANK_INFO &, CCX_MCA_BANK_ENTRY *Banks) { Banks[27].MiscMsr = 0xC00021B4; };
  ExpectOnly(BootAndBuild(DefaultMachine()), "GetMcaBankInfo bank 27 MiscMsr", 0xC00021B3, 0xC00021B4);
}

// A description that claims more banks than there are is reported, and the builder does not read
// past the array it was given.
TEST_F(PlatformTablesOracle, TooManyBanksAreNamedAndNotRead) {
  ChangeBanks = [](CCX_MCA_BANK_INFO &Info, CCX_MCA_BANK_ENTRY *) { Info.NumberOfBanks = 200; };
  const BuiltTables Tables = BootAndBuild(DefaultMachine());
  ExpectOnly(Tables, "GetMcaBankInfo bank description NumberOfBanks", kMcaBanks, 200);
  // Header, one error source of 40 bytes, 28 banks of 28 bytes.
  EXPECT_EQ(Tables.Hest.Bytes.size(), 36u + 4 + 40 + kMcaBanks * 28u);
}

// The figures of the default machine, worked out by hand from its registers: P0 is CpuFid 0x90 at
// divisor 8 (3600 MHz) and voltage identifier 0x48 (605000 µV); 8 complex dies of 8 cores with two
// threads; level 1 is 128 logical processors / 2 sharing × (32 + 32) KiB, level 2 is 64 × 1 MiB,
// level 3 is 8 complexes of 64-byte lines × 16 ways × 32768 sets.
TEST_F(PlatformTablesOracle, DefaultMachineFigures) {
  BootOptions Options;
  CCX_SMBIOS_PROCESSOR_INFO Processor{};
  CCX_SMBIOS_CACHE_INFO Caches[CCX_SMBIOS_CACHE_LEVELS]{};
  Options.AfterBoot = [&](Platform &Machine) {
    Processor = ExpectedProcessorInfo(Machine, 0);
    ExpectedCacheInfo(Machine, Caches);
  };
  RunBoot(DefaultMachine(), CcxImageDescriptor, Options);
  EXPECT_EQ(+Processor.CurrentSpeed, 3600);
  EXPECT_EQ(+Processor.MaxSpeed, 0xB4 * 25);
  EXPECT_EQ(+Processor.Voltage, 0x86);
  EXPECT_EQ(+Processor.CoreCount, 64);
  EXPECT_EQ(+Processor.CoreEnabled, 64);
  EXPECT_EQ(+Processor.ThreadCount, 128);
  EXPECT_EQ(+Processor.ProcessorUpgrade, 0x4A);  // family 0xF + 0xB, package type 4
  EXPECT_EQ(std::string(Processor.ProcessorVersion), "Qorvex Rell 64-Core Processor");
  EXPECT_EQ(+Caches[0].MaximumCacheSize, 4096);
  EXPECT_EQ(+Caches[1].MaximumCacheSize, 0x8400);  // 65536 KiB in 64 KiB units
  EXPECT_EQ(+Caches[1].MaximumCacheSize2, 0x80000400u);
  EXPECT_EQ(+Caches[2].MaximumCacheSize, 0x9000);
  EXPECT_EQ(+Caches[2].MaximumCacheSize2, 0x80001000u);
  EXPECT_EQ(+Caches[2].Associativity, 0x08);
}

// A sibling query that fails during the service call sends the service to its fallback, and the
// expected answer follows it: no difference, though the answer is not the clean boot's.
struct FallbackCase {
  const char *File;
  const char *Service;
  const char *Query;
  // Whether the SMU reports simultaneous multithreading off (what a failed read loses).
  bool SmuSmtOff = false;
};

class SiblingFallback : public ::testing::TestWithParam<FallbackCase> {};

TEST_P(SiblingFallback, ExpectedAnswerTakesTheFallback) {
  const FallbackCase &Case = GetParam();
  Machine Description = LoadMachineFile(std::string(CCX_MACHINES_DIR) + "/" + Case.File);
  if (Case.SmuSmtOff) Description.Smu.Registers[0x3008101C] = 1u << 8;
  uint64_t CallsAtEnd = 0;
  BootOptions Options;
  Options.AfterBoot = [&](Platform &Machine) { CallsAtEnd = Machine.Faults().Calls(Case.Service, Case.Query); };
  RunBoot(Description, CcxImageDescriptor, Options);
  const BuiltTables Clean = BootAndBuild(Description);
  // The first call the SMBIOS builder makes of the query fails.
  Description.Faults.push_back({Case.Service, Case.Query, CallsAtEnd + 1, EFI_DEVICE_ERROR});
  const BuiltTables Faulted = BootAndBuild(Description);
  ASSERT_EQ(Faulted.Smbios.Sockets.size(), Clean.Smbios.Sockets.size());
  EXPECT_NE(std::vector<uint8_t>(Faulted.Smbios.Dump), Clean.Smbios.Dump);
  EXPECT_EQ(Faulted.Smbios.Errors, std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Queries, SiblingFallback,
                         ::testing::Values(FallbackCase{"default.json", "soc", "GetMaxCoreFid"},
                                           FallbackCase{"default.json", "smu", "SmuRegisterRead", true},
                                           // The uneven machine's package-wide count differs from its walk.
                                           FallbackCase{"uneven.json", "soc", "GetDieCoreInfo"},
                                           FallbackCase{"two-socket.json", "fabric_system", "GetSystemInfo"}));

TEST(CacheSizeEncoding, SmallSizesStayAndLargeOnesCountIn64KiB) {
  struct Case {
    uint64_t KiB;
    uint16_t Size16;
    uint32_t Size32;
  };
  for (const Case &Each : {Case{0x7FFF, 0x7FFF, 0x7FFF}, Case{0x8000, 0x8200, 0x80000200},
                           Case{0x40000, 0x9000, 0x80001000}, Case{0x200000, 0xFFFF, 0x80008000}}) {
    const EncodedCacheSize Size = EncodeCacheSize(Each.KiB);
    EXPECT_EQ(Size.Size16, Each.Size16) << Each.KiB;
    EXPECT_EQ(Size.Size32, Each.Size32) << Each.KiB;
  }
}

// Clean boots of the built-in machine and of every example machine: no difference anywhere.
class CleanBoot : public ::testing::TestWithParam<std::string> {};

TEST_P(CleanBoot, ServicesAgreeWithTheMachine) {
  const Machine Description = GetParam() == "built-in" ? DefaultMachine() : LoadMachineFile(GetParam());
  const BuiltTables Tables = BootAndBuild(Description);
  // Every example machine installs the three services; a boot that built nothing proves nothing.
  ASSERT_TRUE(Tables.Pcct.Subspace.has_value());
  ASSERT_EQ(Tables.Hest.Banks, kMcaBanks);
  ASSERT_EQ(Tables.Smbios.Sockets.size(), Description.Shape.Count(TopologyLevel::Socket));
  EXPECT_EQ(Tables.All(), std::vector<std::string>{});
}

std::vector<std::string> Machines() {
  std::vector<std::string> Files = {"built-in"};
  for (const auto &Entry : std::filesystem::directory_iterator(CCX_MACHINES_DIR)) {
    if (Entry.path().extension() == ".json") Files.push_back(Entry.path().string());
  }
  std::sort(Files.begin(), Files.end());
  return Files;
}

INSTANTIATE_TEST_SUITE_P(EveryMachine, CleanBoot, ::testing::ValuesIn(Machines()),
                         [](const ::testing::TestParamInfo<std::string> &Info) {
                           std::string Name = std::filesystem::path(Info.param).stem().string();
                           std::replace(Name.begin(), Name.end(), '-', '_');
                           return Name;
                         });

}  // namespace
}  // namespace sim
