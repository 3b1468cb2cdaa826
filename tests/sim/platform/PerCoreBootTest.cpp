// Whole boots that check the per-core work, the reverse-map table and the boot events on the
// simulated machine: MSRs of every processor, the PPIN items, the order of late arrivals, the
// software SMI at ready-to-boot, and the down-core variable across a run of boots.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <atomic>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>

#include <sys/mman.h>

#include "driver/ImageDescriptor.h"
#include "driver/ImageState.h"
#include "driver/MpServicesWork.h"
#include "interfaces/QorvexGuids.h"
#include "sim/machine/JsonFields.h"
#include "sim/platform/BootRunner.h"
#include "uefi/StandardGuids.h"

namespace sim {
namespace {

constexpr uint32_t kRmpBase = 0xC0010132;
constexpr uint32_t kRmpEnd = 0xC0010133;
constexpr uint32_t kSysCfg = 0xC0010010;
constexpr uint32_t kPstate0 = 0xC0010064;

// The default machine with changes made to its description text.
Machine Variant(const std::function<void(nlohmann::json &)> &Change) {
  nlohmann::json Text = nlohmann::json::parse(DefaultMachineText());
  Change(Text);
  return ParseMachine(Text.dump(), "variant of the default machine");
}

std::vector<uint32_t> HookIds(const BootRecord &Boot) {
  std::vector<uint32_t> Ids;
  for (const OptionHookCall &Call : Boot.OptionHooks) {
    if (Call.Request == OptionHookCall::Hook) Ids.push_back(Call.HookId);
  }
  return Ids;
}

bool Armed(const BootRecord &Boot, const std::string &Notify) {
  return std::any_of(Boot.Armed.begin(), Boot.Armed.end(), [&](const ArmedEvent &Event) { return Event.Notify == Notify; });
}

const MsrChange *ChangeOf(const BootRecord &Boot, uint32_t Msr) {
  for (const MsrChange &Change : Boot.MsrChanges) {
    if (Change.Msr == Msr) return &Change;
  }
  return nullptr;
}

TEST(PerCoreBoot, DefaultBootShowsTheTableTheMsrsTheSmiAndTheHooksInOrder) {
  const BootRecord Boot = RunBoot(DefaultMachine(), CcxImageDescriptor, {});
  ASSERT_EQ(*Boot.EntryStatus, EFI_SUCCESS);
  // 1 GB to cover: a 3 MB table, megabyte-aligned, reserved, below the memory it covers.
  EXPECT_EQ(Boot.Snp.TableLast - Boot.Snp.TableFirst + 1, 0x300000u);
  EXPECT_EQ(Boot.Snp.TableFirst & 0xFFFFF, 0u);
  EXPECT_LT(Boot.Snp.TableLast, 0x40000000u);
  EXPECT_TRUE(Boot.Snp.TableReserved);
  EXPECT_EQ(Boot.Snp.Agreeing.size(), 128u);
  for (uint32_t Msr : {kRmpBase, kRmpEnd}) {
    const MsrChange *Change = ChangeOf(Boot, Msr);
    ASSERT_NE(Change, nullptr) << std::hex << Msr;
    EXPECT_EQ(Change->Processors.size(), 128u);
  }
  EXPECT_EQ(Boot.Snp.RmpBaseMsr, Boot.Snp.TableFirst);
  EXPECT_EQ(Boot.Snp.RmpEndMsr, Boot.Snp.TableLast);

  ASSERT_EQ(Boot.Smis.size(), 1u);
  EXPECT_EQ(Boot.Smis[0].Command, 0xEE);
  EXPECT_FALSE(Boot.Smis[0].HasData);
  EXPECT_EQ(Boot.Smis[0].Phase, "ready_to_boot");
  // Hooks 0x02 and 0x11 stay with the driver's own handlers; the others reach the option service.
  EXPECT_EQ(HookIds(Boot), (std::vector<uint32_t>{0x03, 0x14}));
  EXPECT_EQ(Boot.OcCompletions, 1u);
  const std::vector<uint32_t> TestPoints = {0xB000AC55, 0xB000AC56, 0xB000ACE6, 0xB000AC95, 0xB000AC96, 0xB000AC10,
                                            0xB000ACE5, 0xB000AC58, 0xB000ACE8, 0xB000AC57, 0xB000ACE7};
  EXPECT_EQ(Boot.TestPoints, TestPoints);
  EXPECT_FALSE(Armed(Boot, "CcxReadyToBoot"));
}

class SnpReplicationInBoot : public ::testing::TestWithParam<bool> {};

// With VMPL the BSP sets SYSCFG bit 25 and the APs take it over, at once or one after another.
TEST_P(SnpReplicationInBoot, EveryProcessorEndsWithTheBspsSnpMsrs) {
  const Machine Description = Variant([](nlohmann::json &Text) {
    Text["pcd"]["PcdCcxVmplEnable"] = true;
    Text["pcd"]["PcdCcxRunApsSingleThreaded"] = GetParam();
  });
  const BootRecord Boot = RunBoot(Description, CcxImageDescriptor, {});
  EXPECT_EQ(Boot.Snp.Agreeing.size(), 128u);
  EXPECT_EQ(Boot.Snp.SysCfg, 0x2740000u);
  // 16-byte entries for 1 GB: 4 MB and the 16 KB area make 5 MB.
  EXPECT_EQ(Boot.Snp.TableLast - Boot.Snp.TableFirst + 1, 0x500000u);
  const MsrChange *SysCfg = ChangeOf(Boot, kSysCfg);
  ASSERT_NE(SysCfg, nullptr);
  EXPECT_EQ(SysCfg->After, 0x2740000u);
  EXPECT_EQ(SysCfg->Processors.size(), 128u);
}

INSTANTIATE_TEST_SUITE_P(SingleThreadedOrNot, SnpReplicationInBoot, ::testing::Bool());

struct PpinCase {
  unsigned Sockets;
  bool Enabled;
};

class PpinInBoot : public ::testing::TestWithParam<PpinCase> {};

// Sockets above 0 are read on their first processor by the per-core work; socket 0 is read on the
// BSP at the end of the initialization.
TEST_P(PpinInBoot, EverySocketsPpinLandsInItsItem) {
  const PpinCase Case = GetParam();
  const Machine Description = Variant([&](nlohmann::json &Text) {
    Text["topology"]["sockets"] = Case.Sockets;
    Text["topology"]["complex_dies_per_die"] = 2;
    Text["msrs"]["0xC00102F0"] = Case.Enabled ? 2 : 0;
    Text["socket_msrs"] = nlohmann::json::array();
    for (unsigned Socket = 0; Socket < Case.Sockets; Socket++) {
      Text["socket_msrs"].push_back({{"socket", Socket}, {"msrs", {{"0xC00102F1", 0x1111111100000000ULL * (Socket + 1)}}}});
    }
  });
  const BootRecord Boot = RunBoot(Description, CcxImageDescriptor, {});
  std::vector<std::pair<uint64_t, uint64_t>> Expected;
  if (Case.Enabled) {
    for (unsigned Socket = 1; Socket < Case.Sockets; Socket++) {
      Expected.emplace_back(881 + Socket, 0x1111111100000000ULL * (Socket + 1));
    }
    Expected.emplace_back(881, 0x1111111100000000ULL);
  }
  std::vector<std::pair<uint64_t, uint64_t>> Ppins;
  for (const auto &Write : Boot.PcdWrites) {
    if (Write.first >= 881 && Write.first <= 884) Ppins.push_back(Write);
  }
  EXPECT_EQ(Ppins, Expected);
}

INSTANTIATE_TEST_SUITE_P(Sockets, PpinInBoot,
                         ::testing::Values(PpinCase{1, true}, PpinCase{2, true}, PpinCase{4, true},
                                           PpinCase{2, false}));

// The processors whose P-state 0 definition changed during the check.
std::vector<size_t> PstateChanged(Platform &Machine, uint64_t Value) {
  std::vector<size_t> Changed;
  for (size_t Index = 0; Index < Machine.Processors().Count(); Index++) {
    if (Machine.Processors().At(Index).PeekMsr(kPstate0) == Value) Changed.push_back(Index);
  }
  return Changed;
}

std::vector<size_t> Every(size_t First, size_t Step, size_t End) {
  std::vector<size_t> Numbers;
  for (size_t Number = First; Number < End; Number += Step) Numbers.push_back(Number);
  return Numbers;
}

TEST(PerCoreBoot, RunOnApsReachesTheProcessorsOfEachLevelOnBothPaths) {
  static uint64_t Definition = 0x8000000005120A90ULL;
  std::vector<size_t> AllAps, PerComplex, PerComplexFallback;
  EFI_STATUS LevelTwo = 0, LevelTwoFallback = 1, LevelFiveFallback = 1;
  BootOptions Options;
  Options.AfterBoot = [&](Platform &Machine) {
    EXPECT_EQ(CcxImage::CcxRunFunctionOnAps(0, CcxImage::CcxWritePstate0, &Definition), EFI_SUCCESS);
    AllAps = PstateChanged(Machine, Definition);
    Definition++;
    LevelTwo = CcxImage::CcxRunFunctionOnAps(2, CcxImage::CcxWritePstate0, &Definition);
    PerComplex = PstateChanged(Machine, Definition);
    // Without the fabric topology service the cached counts and strides take over.
    for (const InstalledProtocol &Entry : Machine.Core().InstalledProtocols()) {
      if (std::memcmp(&Entry.guid, &gQorvexFabricTopologyServicesProtocolGuid, sizeof(EFI_GUID)) == 0) {
        Machine.Core().UninstallProtocol(Entry.handle, Entry.guid, Entry.interface);
      }
    }
    Definition++;
    LevelTwoFallback = CcxImage::CcxRunFunctionOnAps(2, CcxImage::CcxWritePstate0, &Definition);
    PerComplexFallback = PstateChanged(Machine, Definition);
    LevelFiveFallback = CcxImage::CcxRunFunctionOnAps(5, CcxImage::CcxWritePstate0, &Definition);
  };
  const BootRecord Boot = RunBoot(DefaultMachine(), CcxImageDescriptor, Options);
  ASSERT_EQ(Boot.End.How, BootEnd::Returned);
  EXPECT_EQ(AllAps, Every(1, 1, 128));
  // 16 threads per complex; processor 0 is the BSP, which MP services refuse on the walk.
  EXPECT_EQ(LevelTwo, EFI_INVALID_PARAMETER);
  EXPECT_EQ(PerComplex, Every(16, 16, 128));
  EXPECT_EQ(LevelTwoFallback, EFI_SUCCESS);
  EXPECT_EQ(PerComplexFallback, Every(16, 16, 128));
  EXPECT_EQ(LevelFiveFallback, EFI_SUCCESS);
  EXPECT_TRUE(Boot.FatalStops.empty());
}

// Without the second core topology service the fallback takes one complex die per die: on the
// default machine's eight the counts make 16 processors where MP services know 128, which stops,
// and the complex stride still reaches the first thread of every complex.
TEST(PerCoreBoot, FallbackWithTheFirstCoreTopologyServiceStopsOnTheProcessorCount) {
  static uint64_t Definition = 0x8000000005120A91ULL;
  std::vector<size_t> PerComplex;
  EFI_STATUS Result = 1;
  Machine Description = DefaultMachine();
  Description.Siblings["core_topology_v2"].When = SiblingArrival::Absent;
  BootOptions Options;
  Options.AfterBoot = [&](Platform &Machine) {
    for (const InstalledProtocol &Entry : Machine.Core().InstalledProtocols()) {
      if (std::memcmp(&Entry.guid, &gQorvexFabricTopologyServicesProtocolGuid, sizeof(EFI_GUID)) == 0) {
        Machine.Core().UninstallProtocol(Entry.handle, Entry.guid, Entry.interface);
      }
    }
    Result = CcxImage::CcxRunFunctionOnAps(2, CcxImage::CcxWritePstate0, &Definition);
    PerComplex = PstateChanged(Machine, Definition);
  };
  const BootRecord Boot = RunBoot(Description, CcxImageDescriptor, Options);
  EXPECT_EQ(Result, EFI_SUCCESS);
  EXPECT_EQ(PerComplex, Every(16, 16, 128));
  EXPECT_EQ(Boot.FatalStops, std::vector<uint32_t>{0xB0200});
}

struct ArrivalCase {
  const char *Name;
  nlohmann::json MpServices;
  nlohmann::json OcTrigger;
  bool Callback;        // the hook runs from CcxRellOcCallback, with its messages
  size_t Completions;
};

class OcArrivalOrder : public ::testing::TestWithParam<ArrivalCase> {};

TEST_P(OcArrivalOrder, HookElevenRunsOnceBothAreThere) {
  const ArrivalCase &Case = GetParam();
  const Machine Description = Variant([&](nlohmann::json &Text) {
    Text["siblings"]["mp_services"] = Case.MpServices;
    Text["siblings"]["oc_trigger"] = Case.OcTrigger;
  });
  const BootRecord Boot = RunBoot(Description, CcxImageDebugDescriptor, {});
  ASSERT_EQ(Boot.End.How, BootEnd::Returned);
  const std::vector<uint32_t> Hooks = HookIds(Boot);
  // Hook 0x11 runs the driver's custom P-state handler, whose first line shows each run.
  size_t HandlerRuns = 0;
  for (size_t At = Boot.Uart3F8.find("CcxRellTavKtxDxeCustomPstates Options"); At != std::string::npos;
       At = Boot.Uart3F8.find("CcxRellTavKtxDxeCustomPstates Options", At + 1)) {
    HandlerRuns++;
  }
  EXPECT_EQ(HandlerRuns, Case.Completions);
  EXPECT_EQ(std::count(Hooks.begin(), Hooks.end(), 0x03u), 1);
  EXPECT_EQ(Boot.OcCompletions, Case.Completions);
  EXPECT_EQ(Boot.Uart3F8.find("  CcxRellOcCallback Entry") != std::string::npos, Case.Callback);
  // Every processor has the BSP's SNP MSRs, whenever MP services came.
  EXPECT_EQ(Boot.Snp.Agreeing.size(), Boot.ProcessorCount);
  // Late MP services: the per-core work runs from their notify, after the entry returned.
  const auto Exit = std::find(Boot.TestPoints.begin(), Boot.TestPoints.end(), 0xB000ACE5u);
  const auto PerCore = std::find(Boot.TestPoints.begin(), Boot.TestPoints.end(), 0xB000AC56u);
  ASSERT_NE(PerCore, Boot.TestPoints.end());
  EXPECT_EQ(PerCore > Exit, Case.MpServices != "start");
}

INSTANTIATE_TEST_SUITE_P(
    Orders, OcArrivalOrder,
    ::testing::Values(ArrivalCase{"MpFirst", {{"after", "entry"}}, {{"after", "mp_services"}}, false, 1},
                      ArrivalCase{"TriggerFirst", {{"after", "oc_trigger"}}, {{"after", "entry"}}, true, 1},
                      ArrivalCase{"BothAtStart", "start", "start", false, 0}),
    [](const ::testing::TestParamInfo<ArrivalCase> &Info) { return std::string(Info.param.Name); });

TEST(PerCoreBoot, ReadyToBootWithoutSmmControlRaisesNothingAndStaysArmed) {
  const Machine Description = Variant([](nlohmann::json &Text) { Text["siblings"]["smm_control"] = "absent"; });
  const BootRecord Boot = RunBoot(Description, CcxImageDescriptor, {});
  EXPECT_TRUE(Boot.Smis.empty());
  EXPECT_TRUE(Armed(Boot, "CcxReadyToBoot"));
  const std::vector<uint32_t> Hooks = HookIds(Boot);
  EXPECT_EQ(std::count(Hooks.begin(), Hooks.end(), 0x14u), 0);
  EXPECT_EQ(Boot.TestPoints.back(), 0xB000AC57u);
}

TEST(PerCoreBoot, SmmControlArrivingAfterReadyToBootFindsTheEventStillArmed) {
  const Machine Description =
      Variant([](nlohmann::json &Text) { Text["siblings"]["smm_control"] = {{"after", "ready_to_boot"}}; });
  BootOptions Options;
  Options.AfterBoot = [](Platform &Machine) { Machine.Core().SignalEventGroup(gEfiEventReadyToBootGuid); };
  const BootRecord Boot = RunBoot(Description, CcxImageDescriptor, Options);
  ASSERT_EQ(Boot.Smis.size(), 1u);
  EXPECT_FALSE(Armed(Boot, "CcxReadyToBoot"));
}

// A page of host memory that the test holds at a fixed address, so that simulated DRAM there
// can't be backed.
class HostSquatter {
 public:
  explicit HostSquatter(uint64_t Address) {
    void *Want = reinterpret_cast<void *>(Address);
    Base_ = mmap(Want, kPage, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    Held_ = Base_ == Want;
  }
  ~HostSquatter() {
    if (Base_ != MAP_FAILED) munmap(Base_, kPage);
  }
  bool Held() const { return Held_; }

 private:
  static constexpr size_t kPage = 0x1000;
  void *Base_ = MAP_FAILED;
  bool Held_ = false;
};

// A probe that cannot be placed: the 4 GB placement does not fit in 2 GB of DRAM, or the host
// already uses a page of the only place below the memory to cover where the probe fits.
class RmpProbeFailsInBoot : public ::testing::TestWithParam<bool> {};

TEST_P(RmpProbeFailsInBoot, StopsCleanlyAndLeavesNoTable) {
  const bool Unmappable = GetParam();
  // The probe for 1 GB to cover is 4 MB, taken from the top of the DRAM below 1 GB.
  HostSquatter Squatter(0x3FF00000);
  ASSERT_TRUE(!Unmappable || Squatter.Held()) << "the test could not take its page of host memory";
  const Machine Description = Variant([&](nlohmann::json &Text) {
    if (!Unmappable) Text["pcd"]["PcdCcxSnpRmpNoForce4G"] = 0;
  });
  const BootRecord Boot = RunBoot(Description, CcxImageDebugDescriptor, {});
  ASSERT_EQ(Boot.End.How, BootEnd::Returned);
  EXPECT_EQ(*Boot.EntryStatus, EFI_SUCCESS);
  EXPECT_NE(std::find(Boot.FatalStops.begin(), Boot.FatalStops.end(), 0x30910832u), Boot.FatalStops.end());
  EXPECT_NE(Boot.Uart3F8.find("  [ERROR] Failed to allocate RMP Table."), std::string::npos);
  EXPECT_EQ(Boot.Snp.TableFirst, 0u);
  EXPECT_EQ(ChangeOf(Boot, kRmpBase), nullptr);
  EXPECT_EQ(Boot.Snp.Agreeing.size(), 128u);
  const bool Noted = std::any_of(Boot.Notes.begin(), Boot.Notes.end(), [](const std::string &Note) {
    return Note.find("cannot back") != std::string::npos && Note.find("0x3FC00000") != std::string::npos;
  });
  EXPECT_EQ(Noted, Unmappable);
}

INSTANTIATE_TEST_SUITE_P(Causes, RmpProbeFailsInBoot, ::testing::Bool());

struct DownCoreRun {
  const char *Name;
  std::vector<bool> DownCored;  // by boot; later boots take the last
  // Per boot of three: the variable afterwards and whether the boot ended in a cold reset.
  std::vector<uint8_t> Variable;
  std::vector<bool> Reset;
};

class DownCoreAcrossBoots : public ::testing::TestWithParam<DownCoreRun> {};

TEST_P(DownCoreAcrossBoots, VariableFollowsTheCoresAndOnlyTheWayBackResets) {
  const DownCoreRun &Run = GetParam();
  const std::filesystem::path Store =
      std::filesystem::temp_directory_path() / ("ccx-down-core-" + std::string(Run.Name) + ".store");
  std::filesystem::remove(Store);
  Machine Description = DefaultMachine();
  for (bool DownCored : Run.DownCored) Description.Boots.push_back({DownCored});
  BootOptions Options;
  Options.VariableFile = Store;
  for (size_t Boot = 1; Boot <= 3; Boot++) {
    const BootRecord Record = RunBoot(MachineForBoot(Description, Boot), CcxImageDebugDescriptor, Options);
    std::vector<uint8_t> Seen;
    for (const auto &[Name, Data] : Record.Variables) {
      if (Name == "DownCoreStatus gQorvexDownCoreStatusVariableGuid") Seen = Data;
    }
    EXPECT_EQ(Seen, std::vector<uint8_t>{Run.Variable[Boot - 1]}) << "boot " << Boot;
    EXPECT_EQ(Record.End.How, Run.Reset[Boot - 1] ? BootEnd::Reset : BootEnd::Returned) << "boot " << Boot;
    if (Run.Reset[Boot - 1]) {
      EXPECT_EQ(Record.End.Code, static_cast<uint64_t>(EfiResetCold));
      EXPECT_NE(Record.Uart3F8.find("  downcored -> auto, issuing cold reset"), std::string::npos);
    }
  }
  std::filesystem::remove(Store);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, DownCoreAcrossBoots,
    ::testing::Values(DownCoreRun{"DownThenAuto", {true, false}, {1, 0, 0}, {false, true, false}},
                      DownCoreRun{"AutoThenDown", {false, true}, {0, 1, 1}, {false, false, false}},
                      DownCoreRun{"AlwaysDown", {true}, {1, 1, 1}, {false, false, false}},
                      DownCoreRun{"AlwaysAuto", {false}, {0, 0, 0}, {false, false, false}}),
    [](const ::testing::TestParamInfo<DownCoreRun> &Info) { return std::string(Info.param.Name); });

// With the variable write service late, the check runs from its notify, which then closes itself;
// a reset from there ends the boot after the entry returned.
TEST(PerCoreBoot, LateVariableWriteServiceRunsTheCheckFromItsNotify) {
  const std::filesystem::path Store = std::filesystem::temp_directory_path() / "ccx-down-core-late.store";
  std::filesystem::remove(Store);
  Machine Description = Variant([](nlohmann::json &Text) { Text["siblings"]["variable_write"] = {{"after", "entry"}}; });
  Description.Boots = {{true}, {false}};
  BootOptions Options;
  Options.VariableFile = Store;
  const BootRecord First = RunBoot(MachineForBoot(Description, 1), CcxImageDescriptor, Options);
  EXPECT_EQ(First.End.How, BootEnd::Returned);
  EXPECT_FALSE(Armed(First, "CcxDownCoreNotify"));
  const BootRecord Second = RunBoot(MachineForBoot(Description, 2), CcxImageDescriptor, Options);
  EXPECT_EQ(Second.End.How, BootEnd::Reset);
  EXPECT_EQ(*Second.EntryStatus, EFI_SUCCESS);
  std::filesystem::remove(Store);
}

}  // namespace
}  // namespace sim
