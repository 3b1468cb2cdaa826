// EFI_SMM_ACCESS2_PROTOCOL on a simulated machine: the installer's SMM range on every processor
// and its refusals, the region states through open, close and lock, what each step leaves in
// every processor's MSRs, and the map the protocol reports.
#include "services/SmmAccess2.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "arch/Chipset.h"
#include "driver/ImageState.h"
#include "interfaces/PlatformConfig.h"
#include "tests/services/SmmTestPlatform.h"
#include "uefi/StandardGuids.h"

using namespace CCX_IMAGE_NAMESPACE;
using smmtest::ProcessorsWhere;
using smmtest::Region;
using smmtest::RunOnPlatform;

namespace {

constexpr uint32_t kTsegBase = 0xC0010112;
constexpr uint32_t kTsegMask = 0xC0010113;
constexpr uint32_t kSysCfg = 0xC0010010;
constexpr uint32_t kAsegMtrr = 0x259;
constexpr uint32_t kHwcr = 0xC0010015;
const std::vector<size_t> kEveryProcessor = {};

EFI_SMM_ACCESS2_PROTOCOL *Protocol() { return &gImage.SmmAccess.Protocol; }

// The region states the protocol reports.
std::vector<uint64_t> States() {
  std::vector<EFI_SMRAM_DESCRIPTOR> Map(gImage.SmmAccess.RegionCount);
  UINTN Size = Map.size() * sizeof(EFI_SMRAM_DESCRIPTOR);
  EXPECT_EQ(Protocol()->GetCapabilities(Protocol(), &Size, Map.data()), EFI_SUCCESS);
  std::vector<uint64_t> Result;
  for (const EFI_SMRAM_DESCRIPTOR &Region : Map) Result.push_back(Region.RegionState);
  return Result;
}

// Two 4 MB regions at 0x7F000000, closed and cacheable, as the default machine has them.
TEST(SmmAccessInstall, WritesTheSmmRangeOnEveryProcessorAndInstallsTheProtocol) {
  RunOnPlatform(sim::DefaultMachine(), [](sim::Platform &Machine) {
    ASSERT_EQ(CcxSmmAccess2ProtocolInstall(), EFI_SUCCESS);
    EXPECT_EQ(ProcessorsWhere(Machine, kTsegBase, 0x7F000000), kEveryProcessor);
    EXPECT_EQ(ProcessorsWhere(Machine, kTsegMask, 0xFFFFFFFFFF806600ULL), kEveryProcessor);
    EXPECT_EQ(Machine.Core().LocateProtocol(gEfiSmmAccess2ProtocolGuid), std::optional<void *>(Protocol()));
    EXPECT_FALSE(Protocol()->LockState);
    EXPECT_FALSE(Protocol()->OpenState);
    EXPECT_EQ(States(), (std::vector<uint64_t>{0x0A, 0x0A}));
    EXPECT_EQ(gImage.SmmAccess.SmramMap[1].PhysicalStart, 0x7F400000u);
    EXPECT_EQ(gImage.SmmAccess.LockSetsHwcr, TRUE) << "the default machine sets PcdCcxSmmLockHwcr";
  });
}

struct RangeCase {
  const char *Name;
  std::vector<Region> Regions;
  uint64_t Base;
  uint64_t Mask;
};

class TsegArithmetic : public ::testing::TestWithParam<RangeCase> {};

// The base is the first region's start; the mask keeps the bits above the regions' total size
// and types both ranges write-back, valid bits clear.
TEST_P(TsegArithmetic, BaseAndMaskComeFromTheFirstRegionAndTheTotalSize) {
  RunOnPlatform(smmtest::MachineWithSmram(GetParam().Regions), [](sim::Platform &Machine) {
    ASSERT_EQ(CcxSmmAccess2ProtocolInstall(), EFI_SUCCESS);
    EXPECT_EQ(ProcessorsWhere(Machine, kTsegBase, GetParam().Base), kEveryProcessor);
    EXPECT_EQ(ProcessorsWhere(Machine, kTsegMask, GetParam().Mask), kEveryProcessor);
  });
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TsegArithmetic,
    ::testing::Values(
        RangeCase{"TwoOf4MiB", {{0x7F000000, 0x400000, 0}, {0x7F400000, 0x400000, 0}}, 0x7F000000, 0xFFFFFFFFFF806600},
        RangeCase{"OneOf16MiB", {{0x7E000000, 0x1000000, 0}}, 0x7E000000, 0xFFFFFFFFFF006600},
        RangeCase{"OneOf1MiB", {{0x7FF00000, 0x100000, 0}}, 0x7FF00000, 0xFFFFFFFFFFF06600},
        RangeCase{"ThreeMakingFour", {{0x7FC00000, 0x100000, 0}, {0x7FD00000, 0x100000, 0}, {0x7FE00000, 0x200000, 0}},
                  0x7FC00000, 0xFFFFFFFFFFC06600}),
    [](const auto &Info) { return std::string(Info.param.Name); });

struct RefusalCase {
  const char *Name;
  bool MpServices;
  std::optional<std::vector<uint8_t>> SmramHob;  // none: the machine's (here: no SMRAM at all)
  EFI_STATUS Status;
  const char *Message;
};

class InstallRefusal : public ::testing::TestWithParam<RefusalCase> {};

// Without MP services or a usable SMRAM description nothing is written to any processor and
// nothing is installed.
TEST_P(InstallRefusal, WritesNoMsrAndInstallsNothing) {
  sim::Machine Description = sim::DefaultMachine();
  Description.Smram.clear();
  if (!GetParam().MpServices) Description.Siblings["mp_services"].When = sim::SiblingArrival::Absent;
  RunOnPlatform(
      Description,
      [](sim::Platform &Machine) {
        EXPECT_EQ(CcxSmmAccess2ProtocolInstall(), GetParam().Status);
        EXPECT_EQ(smmtest::WritesOf(Machine, kTsegBase), 0u);
        EXPECT_EQ(smmtest::WritesOf(Machine, kTsegMask), 0u);
        EXPECT_FALSE(Machine.Core().LocateProtocol(gEfiSmmAccess2ProtocolGuid).has_value());
        EXPECT_NE(smmtest::Serial(Machine).find(GetParam().Message), std::string::npos) << smmtest::Serial(Machine);
      },
      GetParam().SmramHob);
}

const char *kNoHob = "  CcxSmmAccess2ProtocolInstall: Get PEI SMRAM Memory Hob failed\r";
const char *kUnusable = "  CcxSmmAccess2ProtocolInstall: PEI SMRAM Memory Hob describes no usable SMRAM\r";

INSTANTIATE_TEST_SUITE_P(
    Causes, InstallRefusal,
    ::testing::Values(
        RefusalCase{"NoMpServices", false, std::nullopt, EFI_NOT_FOUND,
                    "  CcxSmmAccess2ProtocolInstall: Locate MP Service Status:[Not Found]\r"},
        RefusalCase{"NoSmramHob", true, std::nullopt, EFI_NOT_FOUND, kNoHob},
        RefusalCase{"NoRegion", true, smmtest::SmramHobData(0, {}), EFI_NOT_FOUND, kUnusable},
        // The count claims more descriptors than the HOB carries.
        RefusalCase{"CountBeyondTheHob", true, smmtest::SmramHobData(3, {{0x7F000000, 0x400000, 0}, {0x7F400000, 0x400000, 0}}),
                    EFI_NOT_FOUND, kUnusable},
        RefusalCase{"LargestCount", true, smmtest::SmramHobData(0xFFFFFFFF, {{0x7F000000, 0x400000, 0}}), EFI_NOT_FOUND,
                    kUnusable},
        RefusalCase{"SizesAddUpToZero", true, smmtest::SmramHobData(2, {{0x7F000000, 0, 0}, {0x7F000000, 0, 0}}),
                    EFI_NOT_FOUND, kUnusable},
        RefusalCase{"SizesBeyond64Bits", true,
                    smmtest::SmramHobData(2, {{0x7F000000, 0x8000000000000000ULL, 0}, {0, 0x8000000000000000ULL, 0}}),
                    EFI_NOT_FOUND, kUnusable}),
    [](const auto &Info) { return std::string(Info.param.Name); });

EFI_STATUS EFIAPI NoPool(EFI_MEMORY_TYPE, UINTN, VOID **Buffer) {
  *Buffer = nullptr;
  return EFI_OUT_OF_RESOURCES;
}

TEST(SmmAccessInstall, WithoutPoolForTheMapWritesNoMsrAndInstallsNothing) {
  RunOnPlatform(sim::DefaultMachine(), [](sim::Platform &Machine) {
    EFI_BOOT_SERVICES *Services = Machine.Core().BootServices();
    const auto Saved = Services->AllocatePool;
    Services->AllocatePool = NoPool;
    const EFI_STATUS Status = CcxSmmAccess2ProtocolInstall();
    Services->AllocatePool = Saved;
    EXPECT_EQ(Status, EFI_OUT_OF_RESOURCES);
    EXPECT_EQ(smmtest::WritesOf(Machine, kTsegBase) + smmtest::WritesOf(Machine, kTsegMask), 0u);
    EXPECT_FALSE(Machine.Core().LocateProtocol(gEfiSmmAccess2ProtocolGuid).has_value());
  });
}

// A second installation of MP services runs the per-core work again: the SMRAM installer then
// leaves the protocol and every processor's SMM range as the first run and the lock left them.
TEST(SmmAccessInstall, SecondInstallAfterTheLockWritesNoMsrAndKeepsTheProtocol) {
  RunOnPlatform(sim::DefaultMachine(), [](sim::Platform &Machine) {
    ASSERT_EQ(CcxSmmAccess2ProtocolInstall(), EFI_SUCCESS);
    ASSERT_EQ(Protocol()->Lock(Protocol()), EFI_SUCCESS);
    const size_t Writes = smmtest::WritesOf(Machine, kTsegBase) + smmtest::WritesOf(Machine, kTsegMask);
    EXPECT_EQ(CcxSmmAccess2ProtocolInstall(), EFI_ALREADY_STARTED);
    EXPECT_EQ(smmtest::WritesOf(Machine, kTsegBase) + smmtest::WritesOf(Machine, kTsegMask), Writes);
    EXPECT_TRUE(Protocol()->LockState);
    EXPECT_EQ(Machine.Core().LocateProtocol(gEfiSmmAccess2ProtocolGuid), std::optional<void *>(Protocol()));
  });
}

// Three regions: closed, locked, open (all cacheable).
const std::vector<Region> kMixedRegions = {
    {0x7FC00000, 0x100000, EFI_SMRAM_CLOSED | EFI_CACHEABLE},
    {0x7FD00000, 0x100000, EFI_SMRAM_LOCKED | EFI_CACHEABLE},
    {0x7FE00000, 0x200000, EFI_SMRAM_OPEN | EFI_CACHEABLE}};

struct Step {
  const char *Operation;
  EFI_STATUS Status;
  std::vector<uint64_t> States;  // after the step
  BOOLEAN OpenState;
  BOOLEAN LockState;
  const char *Skipped;  // the messages of the regions left as they were
};

EFI_STATUS Perform(const char *Operation) {
  const std::string Name = Operation;
  if (Name == "Open") return Protocol()->Open(Protocol());
  if (Name == "Close") return Protocol()->Close(Protocol());
  return Protocol()->Lock(Protocol());
}

// Open and Close change the regions that aren't locked (Close also leaves closed ones) and
// always reprogram every core; Lock locks every region and ends the changes for good.
TEST(SmmAccessStates, RegionStatesFollowOpenCloseAndLock) {
  const std::vector<Step> Steps = {
      {"Open", EFI_SUCCESS, {0x09, 0x0C, 0x09}, TRUE, FALSE, "CcxSmmOpen2: RegionState 1 is locked\r"},
      {"Close", EFI_SUCCESS, {0x1A, 0x0C, 0x1A}, FALSE, FALSE, "CcxSmmClose2: RegionState 1 is locked\r"},
      {"Close", EFI_SUCCESS, {0x1A, 0x0C, 0x1A}, FALSE, FALSE,
       "CcxSmmClose2: RegionState 0 is locked\r\r\nCcxSmmClose2: RegionState 1 is locked\r\r\nCcxSmmClose2: "
       "RegionState 2 is locked\r"},
      {"Open", EFI_SUCCESS, {0x09, 0x0C, 0x09}, TRUE, FALSE, "CcxSmmOpen2: RegionState 1 is locked\r"},
      {"Lock", EFI_SUCCESS, {0x0D, 0x0C, 0x0D}, TRUE, TRUE, ""},
      {"Open", EFI_DEVICE_ERROR, {0x0D, 0x0C, 0x0D}, TRUE, TRUE, ""},
      {"Close", EFI_DEVICE_ERROR, {0x0D, 0x0C, 0x0D}, TRUE, TRUE, ""},
      {"Lock", EFI_SUCCESS, {0x0D, 0x0C, 0x0D}, TRUE, TRUE, "  CcxSmmLock2: Already Locked.\r"},
  };
  RunOnPlatform(smmtest::MachineWithSmram(kMixedRegions), [&](sim::Platform &Machine) {
    ASSERT_EQ(CcxSmmAccess2ProtocolInstall(), EFI_SUCCESS);
    for (size_t Index = 0; Index < Steps.size(); Index++) {
      const Step &Each = Steps[Index];
      const size_t SerialBefore = smmtest::Serial(Machine).size();
      const size_t MtrrWritesBefore = smmtest::WritesOf(Machine, kAsegMtrr);
      EXPECT_EQ(Perform(Each.Operation), Each.Status) << "step " << Index;
      EXPECT_EQ(States(), Each.States) << "step " << Index;
      EXPECT_EQ(Protocol()->OpenState, Each.OpenState) << "step " << Index;
      EXPECT_EQ(Protocol()->LockState, Each.LockState) << "step " << Index;
      const std::string Said = smmtest::Serial(Machine).substr(SerialBefore);
      EXPECT_NE(Said.find(Each.Skipped), std::string::npos) << "step " << Index << ": " << Said;
      // Open and Close reprogram the legacy window on every core whenever they succeed.
      const bool Reprograms = Each.Status == EFI_SUCCESS && std::string(Each.Operation) != "Lock";
      EXPECT_EQ(smmtest::WritesOf(Machine, kAsegMtrr) - MtrrWritesBefore,
                Reprograms ? Machine.Processors().Count() : 0u)
          << "step " << Index;
    }
  });
}

TEST(SmmAccessStates, OpenAndCloseRouteTheLegacyWindowOnEveryProcessor) {
  RunOnPlatform(sim::DefaultMachine(), [](sim::Platform &Machine) {
    ASSERT_EQ(CcxSmmAccess2ProtocolInstall(), EFI_SUCCESS);
    const uint64_t SysCfg = smmtest::MsrOf(Machine, 0, kSysCfg);
    ASSERT_EQ(Protocol()->Open(Protocol()), EFI_SUCCESS);
    EXPECT_EQ(ProcessorsWhere(Machine, kAsegMtrr, 0x1818181818181818ULL), kEveryProcessor);
    EXPECT_EQ(ProcessorsWhere(Machine, kTsegMask, 0xFFFFFFFFFF806600ULL), kEveryProcessor);
    // The MTRR's DRAM bits were changed with SYSCFG's modification enable set, then cleared again.
    EXPECT_EQ(ProcessorsWhere(Machine, kSysCfg, SysCfg), kEveryProcessor);
    EXPECT_EQ(smmtest::WritesOf(Machine, kSysCfg), 2 * Machine.Processors().Count());
    ASSERT_EQ(Protocol()->Close(Protocol()), EFI_SUCCESS);
    EXPECT_EQ(ProcessorsWhere(Machine, kAsegMtrr, 0), kEveryProcessor);
    EXPECT_EQ(ProcessorsWhere(Machine, kSysCfg, SysCfg), kEveryProcessor);
  });
}

// When MP services can't start the APs, the BSP still takes each step, but the answer says that
// the cores no longer agree: the installer names the range's failure (and still installs), and
// Open, Close and Lock answer EFI_DEVICE_ERROR after changing their states.
TEST(SmmAccessApsUnreached, InstallerReportsTheRangeTheApsMissed) {
  RunOnPlatform(sim::DefaultMachine(), [](sim::Platform &Machine) {
    Machine.Mp().SetStartFault([]() -> std::optional<EFI_STATUS> { return EFI_DEVICE_ERROR; });
    EFI_STATUS RangeStatus = EFI_SUCCESS;
    ASSERT_EQ(CcxSmmAccess2ProtocolInstall(&RangeStatus), EFI_SUCCESS);
    EXPECT_EQ(RangeStatus, EFI_DEVICE_ERROR);
    EXPECT_EQ(smmtest::MsrOf(Machine, 0, kTsegBase), 0x7F000000u);
    EXPECT_EQ(ProcessorsWhere(Machine, kTsegBase, 0x7F000000).size(), Machine.Processors().Count() - 1);
    EXPECT_EQ(Machine.Core().LocateProtocol(gEfiSmmAccess2ProtocolGuid), std::optional<void *>(Protocol()));
    EXPECT_NE(smmtest::Serial(Machine).find(
                  "  CcxSmmAccess2ProtocolInstall: SMM range not set on the APs, Status:[Device Error]\r"),
              std::string::npos);
  });
}

// APs whose SMM range the installer could not write never get the range checks over a range that
// was never set, even once they can be started again: only the BSP is locked, and every step says so.
TEST(SmmAccessApsUnreached, ARangeNotWrittenIsNeverLocked) {
  RunOnPlatform(sim::DefaultMachine(), [](sim::Platform &Machine) {
    bool Refusing = true;
    Machine.Mp().SetStartFault([&Refusing]() -> std::optional<EFI_STATUS> {
      if (Refusing) return EFI_DEVICE_ERROR;
      return std::nullopt;
    });
    ASSERT_EQ(CcxSmmAccess2ProtocolInstall(), EFI_SUCCESS);
    Refusing = false;
    EXPECT_EQ(Protocol()->Open(Protocol()), EFI_DEVICE_ERROR);
    EXPECT_EQ(Protocol()->Close(Protocol()), EFI_DEVICE_ERROR);
    EXPECT_EQ(Protocol()->Lock(Protocol()), EFI_DEVICE_ERROR);
    EXPECT_TRUE(Protocol()->LockState);
    EXPECT_EQ(smmtest::MsrOf(Machine, 0, kTsegMask) & 3, 3u) << "the BSP's range was written and is locked";
    EXPECT_EQ(ProcessorsWhere(Machine, kTsegMask, 0), std::vector<size_t>{0})
        << "no AP gets valid bits over base 0, mask 0";
    const std::string Said = smmtest::Serial(Machine);
    for (const char *Caller : {"CcxSmmOpen2", "CcxSmmClose2", "CcxSmmLock2"}) {
      EXPECT_NE(Said.find(std::string("  ") + Caller + ": the SMM range was not set on the APs, only the BSP is changed\r"),
                std::string::npos)
          << Caller;
    }
  });
}

TEST(SmmAccessApsUnreached, OpenCloseAndLockAnswerDeviceError) {
  RunOnPlatform(sim::DefaultMachine(), [](sim::Platform &Machine) {
    ASSERT_EQ(CcxSmmAccess2ProtocolInstall(), EFI_SUCCESS);
    Machine.Mp().SetStartFault([]() -> std::optional<EFI_STATUS> { return EFI_DEVICE_ERROR; });
    EXPECT_EQ(Protocol()->Open(Protocol()), EFI_DEVICE_ERROR);
    EXPECT_TRUE(Protocol()->OpenState);
    EXPECT_EQ(Protocol()->Close(Protocol()), EFI_DEVICE_ERROR);
    EXPECT_FALSE(Protocol()->OpenState);
    EXPECT_EQ(Protocol()->Lock(Protocol()), EFI_DEVICE_ERROR);
    EXPECT_TRUE(Protocol()->LockState);
    // Only the BSP turned its range checks on.
    EXPECT_EQ(smmtest::MsrOf(Machine, 0, kTsegMask) & 3, 3u);
    EXPECT_EQ(ProcessorsWhere(Machine, kTsegMask, smmtest::MsrOf(Machine, 0, kTsegMask)).size(),
              Machine.Processors().Count() - 1);
    const std::string Said = smmtest::Serial(Machine);
    for (const char *Caller : {"CcxSmmOpen2", "CcxSmmClose2", "CcxSmmLock2"}) {
      EXPECT_NE(Said.find(std::string("  ") + Caller + ": the APs were not reached, Status:[Device Error]\r"),
                std::string::npos)
          << Caller;
    }
  });
}

class LockHwcr : public ::testing::TestWithParam<bool> {};

// Lock flushes the caches and turns both range checks on, on every core; the HWCR lock bits only
// when the platform asks, keeping HWCR's other bits. The chipset bracket is held around it.
TEST_P(LockHwcr, TurnsTheRangeChecksOnEverywhere) {
  sim::Machine Description = sim::DefaultMachine();
  Description.Pcd[PcdCcxSmmLockHwcr] = GetParam() ? 1 : 0;
  Description.Processors.MsrResetValues[kHwcr] = 0x10;
  RunOnPlatform(Description, [](sim::Platform &Machine) {
    ASSERT_EQ(CcxSmmAccess2ProtocolInstall(), EFI_SUCCESS);
    Machine.Devices().ChipsetBlock().Set(Chipset::SmmLockBracket::Address, 4, 0x5);
    const uint64_t FlushesBefore = Machine.Hardware().CacheFlushes();
    ASSERT_EQ(Protocol()->Lock(Protocol()), EFI_SUCCESS);
    EXPECT_EQ(ProcessorsWhere(Machine, kTsegMask, 0xFFFFFFFFFF806603ULL), kEveryProcessor);
    EXPECT_EQ(ProcessorsWhere(Machine, kHwcr, GetParam() ? 0x80000011ULL : 0x10ULL), kEveryProcessor);
    EXPECT_EQ(Machine.Hardware().CacheFlushes() - FlushesBefore, Machine.Processors().Count());
    const std::vector<sim::ChipsetWrite> Bracket = {{Chipset::SmmLockBracket::Address, 4, 0x80000005},
                                                    {Chipset::SmmLockBracket::Address, 4, 0x00000005}};
    std::vector<sim::ChipsetWrite> Seen;
    for (const sim::ChipsetWrite &Write : Machine.Devices().ChipsetBlock().Writes()) {
      if (Write.Address == Chipset::SmmLockBracket::Address) Seen.push_back(Write);
    }
    EXPECT_EQ(Seen, Bracket);
  });
}

INSTANTIATE_TEST_SUITE_P(PcdCcxSmmLockHwcr, LockHwcr, ::testing::Bool());

struct CapabilityCase {
  const char *Name;
  int64_t SizeOffset;  // from the needed size
  bool WithBuffer;
  EFI_STATUS Status;
};

class Capabilities : public ::testing::TestWithParam<CapabilityCase> {};

// The map is copied only into a buffer big enough for it; the needed size is reported either way.
TEST_P(Capabilities, ReportTheNeededSizeAndCopyOnlyWhenItFits) {
  RunOnPlatform(smmtest::MachineWithSmram(kMixedRegions), [](sim::Platform &Machine) {
    ASSERT_EQ(CcxSmmAccess2ProtocolInstall(), EFI_SUCCESS);
    const UINTN Needed = 3 * sizeof(EFI_SMRAM_DESCRIPTOR);
    std::vector<EFI_SMRAM_DESCRIPTOR> Map(4, EFI_SMRAM_DESCRIPTOR{1, 1, 1, 1});
    UINTN Size = Needed + GetParam().SizeOffset;
    EXPECT_EQ(Protocol()->GetCapabilities(Protocol(), &Size, GetParam().WithBuffer ? Map.data() : nullptr),
              GetParam().Status);
    EXPECT_EQ(Size, Needed);
    if (GetParam().Status == EFI_SUCCESS) {
      EXPECT_EQ(Map[2].PhysicalStart, 0x7FE00000u);
      EXPECT_EQ(Map[2].PhysicalSize, 0x200000u);
      EXPECT_EQ(Map[1].RegionState, EFI_SMRAM_LOCKED | EFI_CACHEABLE);
      EXPECT_EQ(Map[3].PhysicalStart, 1u) << "nothing is written behind the map";
    } else {
      EXPECT_EQ(Map[0].PhysicalStart, 1u);
      EXPECT_NE(smmtest::Serial(Machine).find("  CcxSmmGetCapabilities2: SmramMapSize is too small!\r"),
                std::string::npos);
    }
  });
}

INSTANTIATE_TEST_SUITE_P(Sizes, Capabilities,
                         ::testing::Values(CapabilityCase{"Exact", 0, true, EFI_SUCCESS},
                                           CapabilityCase{"Larger", 32, true, EFI_SUCCESS},
                                           CapabilityCase{"OneByteShort", -1, true, EFI_BUFFER_TOO_SMALL},
                                           CapabilityCase{"Zero", -96, true, EFI_BUFFER_TOO_SMALL},
                                           CapabilityCase{"NoBuffer", 0, false, EFI_BUFFER_TOO_SMALL}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

}  // namespace
