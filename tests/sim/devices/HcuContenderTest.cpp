// The coprocessor's firmware contending for the SMM mutex on a thread of its own, against an x86
// side written as the driver writes it, and the monitor that records any moment both were inside.
#include "sim/devices/HcuContender.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "arch/Hcu.h"
#include "sim/devices/HcuCoprocessor.h"
#include "sim/devices/MmioBus.h"

namespace sim {
namespace {

class Contender : public ::testing::Test {
 protected:
  Contender() : Hcu(HcuConfig{}) { Bus.Attach(Hcu); }

  uint32_t Read(uint32_t Offset) { return static_cast<uint32_t>(Bus.Read(Mailbox() + Offset, 4)); }
  void Write(uint32_t Offset, uint32_t Value) { Bus.Write(Mailbox() + Offset, 4, Value); }
  static uint64_t Mailbox() { return HcuConfig{}.MmioBase + HcuConfig{}.MailboxOffset; }

  // Ask, yield the turn, wait while the coprocessor wants the lock and has the turn. Returns the
  // polls it took.
  uint32_t Acquire() {
    Write(Hcu::Mutex::X86FlagOffset, 1);
    Write(Hcu::Mutex::TurnOffset, Hcu::Mutex::TurnCoprocessor);
    uint32_t Polls = 0;
    while (Read(Hcu::Mutex::CoprocessorFlagOffset) == 1 && Read(Hcu::Mutex::TurnOffset) == 1) Polls++;
    return Polls;
  }
  void Release() { Write(Hcu::Mutex::X86FlagOffset, 0); }

  MmioBus Bus;
  HcuCoprocessor Hcu;
};

TEST_F(Contender, HoldsTheLockOnceStartedAndMakesTheFirstAcquisitionWait) {
  Hcu.StartContender(4);
  EXPECT_TRUE(Hcu.CoprocessorHoldsLock());
  EXPECT_EQ(Read(Hcu::Mutex::CoprocessorFlagOffset), 1u);
  EXPECT_GE(Acquire(), 1u);
  Release();
  const HcuMutexStatistics Stats = Hcu.LockStatistics();
  EXPECT_GE(Stats.PollsWhileHeld, 4u) << "the coprocessor leaves after the x86 side's fourth poll";
  EXPECT_EQ(Stats.ExclusionViolations, 0u);
}

TEST_F(Contender, ManyAcquisitionsAgainstTheThreadNeverOverlap) {
  Hcu.StartContender(1);
  for (int Round = 0; Round < 500; Round++) {
    Acquire();
    Release();
  }
  const HcuMutexStatistics Stats = Hcu.LockStatistics();
  EXPECT_EQ(Stats.X86Requests, 500u);
  EXPECT_EQ(Stats.X86Releases, 500u);
  EXPECT_GE(Stats.CoprocessorAcquisitions, 1u);
  EXPECT_EQ(Stats.ExclusionViolations, 0u);
  EXPECT_TRUE(Stats.Overlaps.empty());
}

// An x86 side that hands over the turn and goes straight in, while the coprocessor is inside, is
// caught with the stretch both were inside.
TEST_F(Contender, X86SideThatDoesNotWaitIsCaughtInsideWithTheThread) {
  Hcu.StartContender(3);
  Write(Hcu::Mutex::X86FlagOffset, 1);
  Write(Hcu::Mutex::TurnOffset, Hcu::Mutex::TurnCoprocessor);
  Release();
  const HcuMutexStatistics Stats = Hcu.LockStatistics();
  EXPECT_EQ(Stats.ExclusionViolations, 1u);
  ASSERT_EQ(Stats.Overlaps.size(), 1u);
  EXPECT_LT(Stats.Overlaps[0].CoprocessorFrom, Stats.Overlaps[0].X86From);
  EXPECT_EQ(Stats.Overlaps[0].CoprocessorTo, Stats.Overlaps[0].X86To) << "the coprocessor was still inside";
}

// An x86 side that hands the turn back while it is inside lets the waiting thread in during its
// own time inside; that is caught too.
TEST_F(Contender, ThreadLetInDuringTheX86SidesTimeInsideIsCaught) {
  Hcu.StartContender(1);
  Acquire();
  // Inside now, with the thread waiting behind it.
  Write(Hcu::Mutex::TurnOffset, Hcu::Mutex::TurnCoprocessor);
  while (!Hcu.CoprocessorHoldsLock()) {
  }
  Release();
  const HcuMutexStatistics Stats = Hcu.LockStatistics();
  EXPECT_EQ(Stats.ExclusionViolations, 1u);
  ASSERT_EQ(Stats.Overlaps.size(), 1u);
  EXPECT_GT(Stats.Overlaps[0].CoprocessorFrom, Stats.Overlaps[0].X86From) << "the thread came in after the x86 side";
}

TEST_F(Contender, StoppingLowersTheCoprocessorsFlag) {
  Hcu.StartContender(2);
  Hcu.StopContender();
  EXPECT_FALSE(Hcu.CoprocessorHoldsLock());
  EXPECT_EQ(Read(Hcu::Mutex::CoprocessorFlagOffset), 0u);
  EXPECT_EQ(Acquire(), 0u);
  Release();
}

TEST_F(Contender, SharesTheCoprocessorsSideWithNoLockPlan) {
  Hcu.SetLockPlan(CoprocessorLockPlan::HoldsBeforeX86);
  EXPECT_THROW(Hcu.StartContender(1), std::logic_error);
  Hcu.SetLockPlan(CoprocessorLockPlan::NeverWants);
  Hcu.StartContender(1);
  EXPECT_THROW(Hcu.SetLockPlan(CoprocessorLockPlan::HoldsBeforeX86), std::logic_error);
}

}  // namespace
}  // namespace sim
