// CcxRunFunctionOnAps: the BSP guard, the cached MP services, level 0, the walk with the fabric
// topology service (processor 0 included, failed counts skipped) and the fallback by strides of
// the cached counts, with its guards against counts it cannot divide by.
#include "driver/RunOnAps.h"
#include "interfaces/PlatformConfig.h"
#include "interfaces/QorvexGuids.h"
#include "tests/driver/DriverFixture.h"
#include "tests/support/FakeFabric.h"
#include "tests/support/FakeMpServices.h"
#include "uefi/StandardGuids.h"

namespace {

VOID EFIAPI Procedure(VOID *) {}

// 2 sockets of one die, 2 complex dies of 2 complexes of 2 cores of 2 threads: 32 processors.
const fake::FabricShape kShape = {{2, 1, 2, 2, 2, 2}};

class RunOnAps : public DriverFixture {
 protected:
  RunOnAps() : Fabric(kShape), Mp(32) {
    Firmware.AddProtocol(gEfiMpServiceProtocolGuid, Mp.Protocol());
    Firmware.RemoveProtocol(gQorvexFabricTopologyServicesProtocolGuid);
    Firmware.RemoveProtocol(gQorvexFabricSystemServicesProtocolGuid);
    Firmware.AddProtocol(gQorvexFabricTopologyServicesProtocolGuid, Fabric.Topology());
    Firmware.AddProtocol(gQorvexFabricSystemServicesProtocolGuid, Fabric.System());
  }

  // The processors StartupThisAP was asked for, accepted or not.
  std::vector<UINTN> Asked() const {
    std::vector<UINTN> Numbers;
    for (const fake::ApStart &Start : Mp.Starts) Numbers.push_back(Start.Processor);
    return Numbers;
  }

  void UseFallback() { Firmware.RemoveProtocol(gQorvexFabricTopologyServicesProtocolGuid); }

  fake::FakeFabric Fabric;
  fake::FakeMpServices Mp;
};

TEST_F(RunOnAps, RefusesToRunOnAnAp) {
  Firmware.Msrs[0x1B] = 0xFEE00800;
  EXPECT_EQ(image::CcxRunFunctionOnAps(2, Procedure, nullptr), EFI_UNSUPPORTED);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0xB0096});
  EXPECT_TRUE(Firmware.Calls().empty());
}

TEST_F(RunOnAps, MissingMpServicesStopAndAreLookedForAgainNextTime) {
  Firmware.RemoveProtocol(gEfiMpServiceProtocolGuid);
  EXPECT_EQ(image::CcxRunFunctionOnAps(0, Procedure, nullptr), EFI_NOT_FOUND);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0xB0103});
  EXPECT_EQ(Lines(), std::vector<std::string>{"  CcxRunFunctionOnAps error, cannot locate gEfiMpServiceProtocolGuid"});
  Firmware.AddProtocol(gEfiMpServiceProtocolGuid, Mp.Protocol());
  EXPECT_EQ(image::CcxRunFunctionOnAps(0, Procedure, nullptr), EFI_SUCCESS);
}

TEST_F(RunOnAps, MpServicesAreLocatedOnceAndTheTopologyEveryCall) {
  image::CcxRunFunctionOnAps(0, Procedure, nullptr);
  image::CcxRunFunctionOnAps(0, Procedure, nullptr);
  const auto &Calls = Firmware.Calls();
  EXPECT_EQ(std::count(Calls.begin(), Calls.end(), "LocateProtocol:MpServices"), 1);
  EXPECT_EQ(std::count(Calls.begin(), Calls.end(), "LocateProtocol:Topology"), 2);
}

class AllAps : public RunOnAps, public ::testing::WithParamInterface<uint8_t> {};

TEST_P(AllAps, LevelZeroStartsEveryApAtOnce) {
  Firmware.Pcd[PcdCcxRunApsSingleThreaded] = GetParam();
  uint64_t Argument = 0x1234;
  EXPECT_EQ(image::CcxRunFunctionOnAps(0, Procedure, &Argument), EFI_SUCCESS);
  ASSERT_EQ(Mp.Starts.size(), 1u);
  EXPECT_EQ(Mp.Starts[0].Call, "StartupAllAPs");
  EXPECT_EQ(Mp.Starts[0].SingleThread, GetParam());
  EXPECT_EQ(Mp.Starts[0].Argument, &Argument);
}

INSTANTIATE_TEST_SUITE_P(SingleThreadedOrNot, AllAps, ::testing::Values(0, 1));

struct LevelCase {
  UINT32 Level;
  std::vector<UINTN> Processors;
};

// With the topology service every unit's first thread is started, processor 0 included; MP
// services refuse the BSP, and that refusal is the result.
class TopologyLevels : public RunOnAps, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(TopologyLevels, StartsTheFirstThreadOfEveryUnit) {
  uint64_t Argument = 7;
  EXPECT_EQ(image::CcxRunFunctionOnAps(GetParam().Level, Procedure, &Argument), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Asked(), GetParam().Processors);
  for (const fake::ApStart &Start : Mp.Starts) EXPECT_EQ(Start.Argument, &Argument);
  EXPECT_TRUE(FatalStops().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Levels, TopologyLevels,
    ::testing::Values(LevelCase{1, {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30}},
                      LevelCase{2, {0, 4, 8, 12, 16, 20, 24, 28}}, LevelCase{3, {0, 8, 16, 24}},
                      LevelCase{4, {0, 16}}, LevelCase{5, {0, 16}}));

TEST_F(RunOnAps, TopologyWalkFollowsUnevenCounts) {
  // Complex 1 of complex die 0 has 1 core; core 0 of complex 0 of complex die 1 has 1 thread.
  Fabric.Override(4, {0, 0, 0, 1}, 1);
  Fabric.Override(5, {0, 0, 1, 0, 0}, 1);
  image::CcxRunFunctionOnAps(2, Procedure, nullptr);
  EXPECT_EQ(Asked(), (std::vector<UINTN>{0, 4, 6, 9, 13, 17, 21, 25}));
}

// A failed count is recorded and its subtree skipped, and the walk goes on with the next one.
TEST_F(RunOnAps, FailedCountSkipsItsSubtreeAndEntersTheResult) {
  Fabric.Fail("GetNumberOfCores", 2, EFI_DEVICE_ERROR);
  EXPECT_EQ(image::CcxRunFunctionOnAps(2, Procedure, nullptr), EFI_DEVICE_ERROR);
  EXPECT_EQ(Asked(), (std::vector<UINTN>{0, 4, 8, 12, 16, 20, 24}));
}

TEST_F(RunOnAps, FailedSocketCountStopsAtOnce) {
  Fabric.Fail("GetNumberOfSockets", 1, EFI_DEVICE_ERROR);
  EXPECT_EQ(image::CcxRunFunctionOnAps(2, Procedure, nullptr), EFI_DEVICE_ERROR);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0xB0123});
  EXPECT_TRUE(Mp.Starts.empty());
}

TEST_F(RunOnAps, UnknownLevelIsRefusedOnEitherPath) {
  EXPECT_EQ(image::CcxRunFunctionOnAps(6, Procedure, nullptr), EFI_INVALID_PARAMETER);
  UseFallback();
  Firmware.AddProtocol(gQorvexCoreTopologyServicesV2ProtocolGuid, Fabric.CoreTopologyV2());
  EXPECT_EQ(image::CcxRunFunctionOnAps(9, Procedure, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(FatalStops(), (std::vector<uint32_t>{0xB0224, 0xB0224}));
  EXPECT_TRUE(Mp.Starts.empty());
}

struct StrideCase {
  UINT32 Level;
  bool Version2;
  std::vector<UINTN> Processors;
};

// Without the topology service the counts of socket 0, die 0 stand for the system, and processor
// 0 is never started. The first core topology service has no complex-die count: 1 is taken.
class FallbackStrides : public RunOnAps, public ::testing::WithParamInterface<StrideCase> {};

TEST_P(FallbackStrides, StartsEveryStrideButProcessorZero) {
  UseFallback();
  if (GetParam().Version2) {
    Firmware.AddProtocol(gQorvexCoreTopologyServicesV2ProtocolGuid, Fabric.CoreTopologyV2());
  } else {
    Firmware.AddProtocol(gQorvexCoreTopologyServicesProtocolGuid, Fabric.CoreTopology());
    Mp.Reported = 16;
  }
  EXPECT_EQ(image::CcxRunFunctionOnAps(GetParam().Level, Procedure, nullptr), EFI_SUCCESS);
  EXPECT_EQ(Asked(), GetParam().Processors);
  EXPECT_TRUE(FatalStops().empty());
  const UINTN *Counts = image::gImage.MpWork.FallbackCounts;
  EXPECT_EQ(Counts[2], GetParam().Version2 ? 2u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Strides, FallbackStrides,
    ::testing::Values(StrideCase{1, true, {2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30}},
                      StrideCase{2, true, {4, 8, 12, 16, 20, 24, 28}}, StrideCase{3, true, {8, 16, 24}},
                      StrideCase{4, true, {16}}, StrideCase{5, true, {16}}, StrideCase{2, false, {4, 8, 12}},
                      StrideCase{4, false, {8}}));

// Whether every unit was reached, apart from the status (which holds the BSP's refusal on the
// topology path): a lost count, a processor other than the BSP that can't start, or fallback
// counts that do not describe the machine leave units out.
TEST_F(RunOnAps, EveryUnitReachedSaysWhatTheStatusCannot) {
  const image::CCX_RUN_RESULT Clean = image::CcxRunFunctionOnUnits(2, Procedure, nullptr);
  EXPECT_EQ(Clean.Status, EFI_INVALID_PARAMETER) << "the BSP's refusal";
  EXPECT_TRUE(Clean.EveryUnitReached);

  Fabric.Fail("GetNumberOfThreads", 16 + 3, EFI_DEVICE_ERROR);  // the first run asked one per core
  EXPECT_FALSE(image::CcxRunFunctionOnUnits(2, Procedure, nullptr).EveryUnitReached);

  fake::FailingMp Failing(Mp.Protocol());
  Failing.FailingProcessors = {8};
  Firmware.RemoveProtocol(gEfiMpServiceProtocolGuid);
  Firmware.AddProtocol(gEfiMpServiceProtocolGuid, &Failing.Protocol);
  image::gImage.MpWork.RunOnApsMpServices = nullptr;
  EXPECT_FALSE(image::CcxRunFunctionOnUnits(2, Procedure, nullptr).EveryUnitReached);
}

TEST_F(RunOnAps, EveryUnitReachedOnTheFallbackNeedsCountsThatDescribeTheMachine) {
  UseFallback();
  Firmware.AddProtocol(gQorvexCoreTopologyServicesV2ProtocolGuid, Fabric.CoreTopologyV2());
  EXPECT_TRUE(image::CcxRunFunctionOnUnits(2, Procedure, nullptr).EveryUnitReached);
  Mp.Reported = 10;
  EXPECT_FALSE(image::CcxRunFunctionOnUnits(2, Procedure, nullptr).EveryUnitReached);
}

TEST_F(RunOnAps, FallbackWithOneSocketAtLevelFiveStartsNothing) {
  fake::FakeFabric OneSocket(fake::FabricShape{{1, 1, 2, 2, 2, 2}});
  UseFallback();
  Firmware.RemoveProtocol(gQorvexFabricSystemServicesProtocolGuid);
  Firmware.AddProtocol(gQorvexFabricSystemServicesProtocolGuid, OneSocket.System());
  Firmware.AddProtocol(gQorvexCoreTopologyServicesV2ProtocolGuid, OneSocket.CoreTopologyV2());
  Mp.Reported = 16;
  EXPECT_EQ(image::CcxRunFunctionOnAps(5, Procedure, nullptr), EFI_SUCCESS);
  EXPECT_TRUE(Mp.Starts.empty());
}

TEST_F(RunOnAps, FallbackCountsAreAskedForOnce) {
  UseFallback();
  Firmware.AddProtocol(gQorvexCoreTopologyServicesV2ProtocolGuid, Fabric.CoreTopologyV2());
  image::CcxRunFunctionOnAps(2, Procedure, nullptr);
  image::CcxRunFunctionOnAps(3, Procedure, nullptr);
  EXPECT_EQ(Fabric.Queries, (std::vector<std::string>{"GetCoreTopologyOnDieV2", "GetSystemInfo"}));
}

// MP services know fewer processors than the counts make: the stop, then starts below the number
// MP services gave.
TEST_F(RunOnAps, FallbackProcessorCountMismatchStopsAndStaysBelowIt) {
  UseFallback();
  Firmware.AddProtocol(gQorvexCoreTopologyServicesV2ProtocolGuid, Fabric.CoreTopologyV2());
  Mp.Reported = 10;
  EXPECT_EQ(image::CcxRunFunctionOnAps(2, Procedure, nullptr), EFI_SUCCESS);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0xB0200});
  EXPECT_EQ(Asked(), (std::vector<UINTN>{4, 8}));
}

// A system service that reports no socket gives nothing to divide the dies by: nothing is started,
// the call fails, and the counts are asked for again on the next call.
TEST_F(RunOnAps, FallbackWithZeroSocketsStartsNothingAndFails) {
  UseFallback();
  Firmware.AddProtocol(gQorvexCoreTopologyServicesV2ProtocolGuid, Fabric.CoreTopologyV2());
  Fabric.ReportedSockets = 0;
  EXPECT_EQ(image::CcxRunFunctionOnAps(2, Procedure, nullptr), EFI_DEVICE_ERROR);
  EXPECT_TRUE(Mp.Starts.empty());
  Fabric.ReportedSockets.reset();
  EXPECT_EQ(image::CcxRunFunctionOnAps(2, Procedure, nullptr), EFI_SUCCESS);
  EXPECT_EQ(Asked(), (std::vector<UINTN>{4, 8, 12, 16, 20, 24, 28}));
}

TEST_F(RunOnAps, FallbackWithAFailedSystemQueryStartsNothing) {
  UseFallback();
  Firmware.AddProtocol(gQorvexCoreTopologyServicesV2ProtocolGuid, Fabric.CoreTopologyV2());
  Fabric.Fail("GetSystemInfo", 1, EFI_DEVICE_ERROR);
  EXPECT_TRUE(EFI_ERROR(image::CcxRunFunctionOnAps(2, Procedure, nullptr)));
  EXPECT_TRUE(Mp.Starts.empty());
}

// A thread count of 0 would make every stride land on processor 0 again.
TEST_F(RunOnAps, FallbackWithZeroThreadsStartsNothing) {
  fake::FakeFabric NoThreads(fake::FabricShape{{2, 1, 2, 2, 2, 0}});
  UseFallback();
  Firmware.AddProtocol(gQorvexCoreTopologyServicesV2ProtocolGuid, NoThreads.CoreTopologyV2());
  EXPECT_EQ(image::CcxRunFunctionOnAps(1, Procedure, nullptr), EFI_DEVICE_ERROR);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0xB0200});
  EXPECT_TRUE(Mp.Starts.empty());
}

TEST_F(RunOnAps, FallbackWithoutAnyCoreTopologyServiceStartsNothing) {
  UseFallback();
  EXPECT_EQ(image::CcxRunFunctionOnAps(2, Procedure, nullptr), EFI_NOT_FOUND);
  EXPECT_TRUE(Mp.Starts.empty());
}

}  // namespace
