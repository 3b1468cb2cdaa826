// Each kind of hardware access the driver can make is counted once, as its own kind, on the side
// (BSP or AP) of the processor that made it; phases split the counts without losing any.
#include "sim/platform/AccessCounters.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "arch/Memory.h"
#include "arch/PciEcam.h"
#include "arch/PortIo.h"
#include "arch/Processor.h"
#include "sim/cpu/CurrentProcessor.h"
#include "sim/machine/Machine.h"
#include "sim/platform/Platform.h"

namespace sim {
namespace {

struct SingleAccess {
  const char *Name;
  std::function<void()> Access;
  CountedAccess Kind;
  bool OnAp;
  uint64_t Amount;
};

uint8_t gBuffer[256];

// The sideband pair of bus 0 and a plain register of another function of the same window.
const uint64_t kSidebandData = PciEcam::AddressOf(PciEcam::Segment0Base, 0, 0, 0, PciEcam::HostBridgeSideband::DataOffset);
const uint64_t kSidebandIndex =
    PciEcam::AddressOf(PciEcam::Segment0Base, 0, 0, 0, PciEcam::HostBridgeSideband::IndexOffset);
const uint64_t kOtherFunctionData = PciEcam::AddressOf(PciEcam::Segment0Base, 0, 1, 0, PciEcam::HostBridgeSideband::DataOffset);

const std::vector<SingleAccess> kSingleAccesses = {
    {"MsrReadOnBsp", [] { CcxImage::AsmReadMsr64(0xC0010010); }, CountedAccess::MsrRead, false, 1},
    {"MsrWriteOnAp", [] { CcxImage::AsmWriteMsr64(0xC0010015, 1); }, CountedAccess::MsrWrite, true, 1},
    {"CpuidOnAp", [] { CcxImage::CpuidEx(1, 0, nullptr, nullptr, nullptr, nullptr); }, CountedAccess::Cpuid, true, 1},
    {"PortRead", [] { CcxImage::IoRead8(0x80); }, CountedAccess::PortRead, false, 1},
    {"PortWrite", [] { CcxImage::IoWrite8(0x80, 0x5A); }, CountedAccess::PortWrite, false, 1},
    {"SidebandDataRead", [] { CcxImage::MmioRead32(kSidebandData); }, CountedAccess::SidebandRead, false, 1},
    {"SidebandDataWrite", [] { CcxImage::MmioWrite32(kSidebandData, 7); }, CountedAccess::SidebandWrite, false, 1},
    {"SidebandIndexWriteIsMmio", [] { CcxImage::MmioWrite32(kSidebandIndex, 0x1000); }, CountedAccess::MmioWrite, false, 1},
    {"SameOffsetOfAnotherFunctionIsMmio", [] { CcxImage::MmioRead32(kOtherFunctionData); }, CountedAccess::MmioRead, false, 1},
    {"CacheFlushOnAp", [] { CcxImage::WriteBackInvalidateCaches(); }, CountedAccess::CacheFlush, true, 1},
    {"FillCountsBytes", [] { CcxImage::SetMemory(gBuffer, 100, 0xA5); }, CountedAccess::BytesFilled, false, 100},
    {"ZeroCountsAsFill", [] { CcxImage::ZeroMemory(gBuffer, 37); }, CountedAccess::BytesFilled, false, 37},
    {"OverlappingCopyCountsBytes", [] { CcxImage::CopyMemory(gBuffer + 1, gBuffer, 200); }, CountedAccess::BytesCopied, false, 200},
};

class SingleAccessTest : public ::testing::TestWithParam<SingleAccess> {};

TEST_P(SingleAccessTest, IsCountedOnceAsItsOwnKindOnItsSide) {
  const SingleAccess &Case = GetParam();
  BootControl Control;
  Platform Machine(DefaultMachine(), {}, Control);
  {
    ProcessorBinding RunningAs(Case.OnAp ? Machine.Processors().At(1) : Machine.Processors().Bsp());
    Case.Access();
  }
  AccessCounts Expected;
  (Case.OnAp ? Expected.Ap : Expected.Bsp)[static_cast<size_t>(Case.Kind)] = Case.Amount;
  EXPECT_EQ(Machine.Hardware().Accounting().Totals(), Expected);
}

INSTANTIATE_TEST_SUITE_P(Accesses, SingleAccessTest, ::testing::ValuesIn(kSingleAccesses),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST(AccessCountersTest, EmptyCopyCountsNothing) {
  BootControl Control;
  Platform Machine(DefaultMachine(), {}, Control);
  ProcessorBinding RunningAs(Machine.Processors().Bsp());
  CcxImage::CopyMemory(gBuffer, gBuffer + 8, 0);
  EXPECT_TRUE(Machine.Hardware().Accounting().Totals().Empty());
}

void EFIAPI TouchOneMsr(VOID *) { CcxImage::AsmReadMsr64(0xC0010010); }

TEST(AccessCountersTest, ApStartIsCountedOnTheBspAndEachProcedureOnTheAps) {
  BootControl Control;
  Platform Machine(DefaultMachine(), {}, Control);
  ProcessorBinding RunningAs(Machine.Processors().Bsp());
  ASSERT_EQ(Machine.Mp().StartupAllAPs(TouchOneMsr, FALSE, nullptr, 0, nullptr, nullptr), EFI_SUCCESS);
  const AccessCounts Counts = Machine.Hardware().Accounting().Totals();
  const uint64_t Aps = Machine.Processors().Count() - 1;
  EXPECT_EQ(Counts.OnBsp(CountedAccess::ApStart), 1u);
  EXPECT_EQ(Counts.OnAps(CountedAccess::ApProcedure), Aps);
  EXPECT_EQ(Counts.OnAps(CountedAccess::MsrRead), Aps);
  EXPECT_EQ(Counts.OnBsp(CountedAccess::MsrRead), 0u);
}

TEST(AccessCountersTest, ReenteredPhaseAddsToItsEarlierCounts) {
  AccessCounters Counters;
  Counters.Enter("entry");
  Counters.Add(CountedAccess::MsrRead, false, 2);
  Counters.Enter("ready_to_boot");
  Counters.Add(CountedAccess::MsrRead, false, 5);
  Counters.Enter("entry");
  Counters.Add(CountedAccess::MsrRead, true, 3);  // still open: counted up to now
  const std::vector<AccessPhase> Phases = Counters.Phases();
  ASSERT_EQ(Phases.size(), 2u);
  EXPECT_EQ(Phases[0].Name, "entry");
  EXPECT_EQ(Phases[0].Counts.OnBsp(CountedAccess::MsrRead), 2u);
  EXPECT_EQ(Phases[0].Counts.OnAps(CountedAccess::MsrRead), 3u);
  EXPECT_EQ(Phases[1].Name, "ready_to_boot");
  EXPECT_EQ(Phases[1].Counts.OnBsp(CountedAccess::MsrRead), 5u);
}

TEST(AccessCountersTest, ScopeCountsApartAndReturnsToThePhaseItInterrupted) {
  AccessCounters Counters;
  Counters.Enter("after_boot");
  {
    AccessScope Scope(Counters, "service: SRAT");
    Counters.Add(CountedAccess::Cpuid, false, 4);
    EXPECT_EQ(Counters.Current(), "service: SRAT");
  }
  EXPECT_EQ(Counters.Current(), "after_boot");
  Counters.Add(CountedAccess::Cpuid, false, 1);
  const std::vector<AccessPhase> Phases = Counters.Phases();
  ASSERT_EQ(Phases.size(), 2u);
  EXPECT_EQ(Phases[0].Counts.Total(CountedAccess::Cpuid), 1u);
  EXPECT_EQ(Phases[1].Name, "service: SRAT");
  EXPECT_EQ(Phases[1].Counts.Total(CountedAccess::Cpuid), 4u);
}

TEST(AccessCountersTest, CountsBeforeTheFirstPhaseAndOutsideScopesAreNotShownAsAPhase) {
  AccessCounters Counters;
  Counters.Add(CountedAccess::PortWrite, false, 9);
  {
    AccessScope Scope(Counters, "service: HEST");
    Counters.Add(CountedAccess::PortWrite, false, 1);
  }
  Counters.Add(CountedAccess::PortWrite, false, 3);
  const std::vector<AccessPhase> Phases = Counters.Phases();
  ASSERT_EQ(Phases.size(), 1u);
  EXPECT_EQ(Phases[0].Counts.Total(CountedAccess::PortWrite), 1u);
}

}  // namespace
}  // namespace sim
