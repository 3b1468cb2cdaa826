// The coprocessor's MMIO block behind its sideband base register, and the two-party mutex held
// around every SMM change, against a coprocessor whose firmware contends for the lock on a thread
// of its own.
#include "services/HcuMailbox.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "driver/ImageState.h"
#include "services/SmmAccess2.h"
#include "tests/services/SmmTestPlatform.h"

using namespace CCX_IMAGE_NAMESPACE;
using smmtest::RunOnPlatform;

namespace {

constexpr uint32_t kTsegMask = 0xC0010113;
const char *kNoBase = " GetHcuMmioBase returned with Error \r";

EFI_SMM_ACCESS2_PROTOCOL *Protocol() { return &gImage.SmmAccess.Protocol; }

// Every open and close waits its turn with a thread that plays the coprocessor's side for real,
// concurrently: it holds the lock from the start and comes back for it after each release. The
// x86 side has to wait at least for the first, and at no moment are both inside.
TEST(HcuMutex, UnderRealContentionTheSidesAreNeverInsideTogether) {
  constexpr int kRounds = 100;
  sim::Machine Description = sim::DefaultMachine();
  Description.Coprocessor.Contends = false;
  RunOnPlatform(Description, [](sim::Platform &Machine) {
    Machine.Devices().Coprocessor().StartContender(3);
    ASSERT_TRUE(Machine.Devices().Coprocessor().CoprocessorHoldsLock());
    ASSERT_EQ(CcxSmmAccess2ProtocolInstall(), EFI_SUCCESS);
    for (int Round = 0; Round < kRounds; Round++) {
      ASSERT_EQ(Protocol()->Open(Protocol()), EFI_SUCCESS);
      ASSERT_EQ(Protocol()->Close(Protocol()), EFI_SUCCESS);
    }
    const sim::HcuMutexStatistics Stats = Machine.Devices().Coprocessor().LockStatistics();
    EXPECT_EQ(Stats.X86Requests, 2u * kRounds);
    EXPECT_EQ(Stats.X86Releases, 2u * kRounds);
    EXPECT_GE(Stats.CoprocessorAcquisitions, 1u);
    EXPECT_GE(Stats.PollsWhileHeld, 3u) << "the first acquisition waits for the coprocessor's three polls";
    EXPECT_EQ(Stats.ExclusionViolations, 0u);
    EXPECT_TRUE(Stats.Overlaps.empty());
  });
}

// A machine's contention follows the schedule of its seed: the same seed gives the same waits on
// every run, another seed other waits, and neither lets both sides in at once.
TEST(HcuMutex, TheSeededScheduleRepeatsItselfAndKeepsTheSidesApart) {
  auto Rounds = [](uint64_t Seed) {
    sim::Machine Description = sim::DefaultMachine();
    Description.Coprocessor.Seed = Seed;
    Description.Coprocessor.HoldPolls = 3;
    sim::HcuMutexStatistics Stats;
    RunOnPlatform(Description, [&Stats](sim::Platform &Machine) {
      ASSERT_EQ(CcxSmmAccess2ProtocolInstall(), EFI_SUCCESS);
      for (int Round = 0; Round < 50; Round++) {
        ASSERT_EQ(Protocol()->Open(Protocol()), EFI_SUCCESS);
        ASSERT_EQ(Protocol()->Close(Protocol()), EFI_SUCCESS);
      }
      Stats = Machine.Devices().Coprocessor().LockStatistics();
    });
    return Stats;
  };
  const sim::HcuMutexStatistics First = Rounds(7);
  const sim::HcuMutexStatistics Again = Rounds(7);
  const sim::HcuMutexStatistics Other = Rounds(8);
  EXPECT_EQ(First.X86Requests, 100u);
  EXPECT_GT(First.CoprocessorAcquisitions, 0u);
  EXPECT_LT(First.CoprocessorAcquisitions, First.X86Requests) << "some acquisitions find no contention";
  EXPECT_EQ(Again.CoprocessorAcquisitions, First.CoprocessorAcquisitions);
  EXPECT_EQ(Again.PollsWhileHeld, First.PollsWhileHeld);
  EXPECT_NE(std::make_pair(Other.CoprocessorAcquisitions, Other.PollsWhileHeld),
            std::make_pair(First.CoprocessorAcquisitions, First.PollsWhileHeld));
  for (const sim::HcuMutexStatistics *Stats : {&First, &Other}) EXPECT_EQ(Stats->ExclusionViolations, 0u);
}

// Without the coprocessor its base register reads 0: the mutex is skipped without a word, and
// the SMM work still reaches every processor.
TEST(HcuMutex, AbsentCoprocessorIsSkippedAndTheWorkGoesAhead) {
  sim::Machine Description = sim::DefaultMachine();
  Description.Coprocessor.Present = false;
  RunOnPlatform(Description, [](sim::Platform &Machine) {
    ASSERT_EQ(CcxSmmAccess2ProtocolInstall(), EFI_SUCCESS);
    EXPECT_EQ(Protocol()->Open(Protocol()), EFI_SUCCESS);
    EXPECT_EQ(Protocol()->Close(Protocol()), EFI_SUCCESS);
    EXPECT_EQ(Protocol()->Lock(Protocol()), EFI_SUCCESS);
    EXPECT_EQ(smmtest::ProcessorsWhere(Machine, kTsegMask, 0xFFFFFFFFFF806603ULL), std::vector<size_t>{});
    EXPECT_EQ(Machine.Devices().Coprocessor().LockStatistics().X86Requests, 0u);
    EXPECT_EQ(smmtest::Serial(Machine).find(kNoBase), std::string::npos);
    EXPECT_EQ(GetHcuMmioBase(), 0u);
  });
}

TEST(HcuMmio, WithoutTheCoprocessorReadsAllOnesAndWritesNothing) {
  sim::Machine Description = sim::DefaultMachine();
  Description.Coprocessor.Present = false;
  RunOnPlatform(Description, [](sim::Platform &Machine) {
    EXPECT_EQ(HcuMmioRead32(0x10), 0xFFFFFFFFu);
    const size_t Before = smmtest::Serial(Machine).size();
    HcuMmioWrite32(0x10, 0x1234);
    EXPECT_EQ(Machine.Devices().Coprocessor().Get(0x10), 0u);
    EXPECT_NE(smmtest::Serial(Machine).find(kNoBase, Before), std::string::npos) << "the write logs the error too";
  });
}

TEST(HcuMmio, RegistersAreReachedAtTheBaseEveryCallFetches) {
  RunOnPlatform(sim::DefaultMachine(), [](sim::Platform &Machine) {
    HcuMmioWrite32(0x10, 0xCAFE);
    EXPECT_EQ(Machine.Devices().Coprocessor().Get(0x10), 0xCAFEu);
    Machine.Devices().Coprocessor().Set(0x20, 0xBEEF);
    EXPECT_EQ(HcuMmioRead32(0x20), 0xBEEFu);
    // Taken away between calls, the coprocessor is noticed at once.
    Machine.Devices().Coprocessor().SetPresent(false);
    EXPECT_EQ(HcuMmioRead32(0x20), 0xFFFFFFFFu);
  });
}

struct FamilyCase {
  const char *Name;
  uint32_t Signature;      // CPUID 0x80000001 EAX
  uint32_t SidebandBlock;  // where the machine's coprocessor answers
  uint32_t Mailbox;        // the machine's mailbox offset
  uint32_t Base;           // what the driver finds
  uint32_t MailboxOffset;  // what the library start-up keeps
};

class CoprocessorPlaces : public ::testing::TestWithParam<FamilyCase> {};

// The base comes from the sideband block of the running family's row (the default block when no
// row matches), masked to its 1 MB alignment; the mutex lives at the family's mailbox offset.
TEST_P(CoprocessorPlaces, FollowTheProcessorFamily) {
  sim::Machine Description = sim::DefaultMachine();
  Description.Processors.Cpuid.Set(0x80000001, {GetParam().Signature, 0, 0, 0});
  Description.Coprocessor.SidebandBlock = GetParam().SidebandBlock;
  Description.Coprocessor.MailboxOffset = GetParam().Mailbox;
  Description.Coprocessor.MmioBase = 0xFE800000;
  RunOnPlatform(Description, [](sim::Platform &Machine) {
    EXPECT_EQ(GetHcuMmioBase(), GetParam().Base);
    EXPECT_EQ(gImage.Library.HcuMailboxOffset, GetParam().MailboxOffset);
    HcuMutexAcquire();
    HcuMutexRelease();
    const uint64_t Expected = GetParam().Base != 0 && GetParam().Mailbox == GetParam().MailboxOffset ? 1 : 0;
    EXPECT_EQ(Machine.Devices().Coprocessor().LockStatistics().X86Releases, Expected);
  });
}

INSTANTIATE_TEST_SUITE_P(
    Families, CoprocessorPlaces,
    ::testing::Values(FamilyCase{"Family1A", 0x00B00F10, 0x13B10000, 0x10900, 0xFE800000, 0x10900},
                      FamilyCase{"Family17", 0x00870F00, 0x13E10000, 0x10500, 0xFE800000, 0x10500},
                      FamilyCase{"NoRowUsesTheDefaults", 0x00A10F00, 0x13B10000, 0x10500, 0xFE800000, 0x10500},
                      FamilyCase{"OtherFamilysBlockIsNotLookedAt", 0x00870F00, 0x13B10000, 0x10500, 0, 0x10500}),
    [](const auto &Info) { return std::string(Info.param.Name); });

}  // namespace
