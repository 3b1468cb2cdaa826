// The security coprocessor: finding its MMIO block through the sideband space, and its side of
// the two-party mutex against an x86 side written the way the driver writes it.
#include "sim/devices/HcuCoprocessor.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "arch/Hcu.h"
#include "arch/PciEcam.h"
#include "sim/devices/DeviceSet.h"

namespace sim {
namespace {

constexpr uint64_t SidebandIndex = PciEcam::Segment0Base + PciEcam::HostBridgeSideband::IndexOffset;
constexpr uint64_t SidebandData = PciEcam::Segment0Base + PciEcam::HostBridgeSideband::DataOffset;

// The coprocessor's MMIO base as the driver finds it: index the base register, read, mask.
uint32_t LookUpBase(MmioBus &Bus, uint32_t SidebandBlock) {
  Bus.Write(SidebandIndex, 4, SidebandBlock + Hcu::MmioBaseRegister::BlockOffset);
  return static_cast<uint32_t>(Bus.Read(SidebandData, 4)) & Hcu::MmioBaseRegister::BaseMask;
}

// The x86 side of the mutex. Polls stops a broken model from hanging the test.
struct X86Side {
  MmioBus &Bus;
  uint64_t Mailbox;
  uint32_t Polls = 0;

  uint32_t Read(uint32_t Offset) { return static_cast<uint32_t>(Bus.Read(Mailbox + Offset, 4)); }
  void Write(uint32_t Offset, uint32_t Value) { Bus.Write(Mailbox + Offset, 4, Value); }

  bool Acquire() {
    Write(Hcu::Mutex::X86FlagOffset, 1);
    Write(Hcu::Mutex::TurnOffset, Hcu::Mutex::TurnCoprocessor);
    while (Read(Hcu::Mutex::CoprocessorFlagOffset) == 1 && Read(Hcu::Mutex::TurnOffset) == 1) {
      if (++Polls > 10000) {
        return false;
      }
    }
    return true;
  }
  void Release() { Write(Hcu::Mutex::X86FlagOffset, 0); }
};

class Coprocessor : public ::testing::Test {
 protected:
  Coprocessor() : Hcu(Config()), Side{Bus, Config().MmioBase + Config().MailboxOffset} { Bus.Attach(Hcu); }
  static HcuConfig Config() { return HcuConfig{}; }

  MmioBus Bus;
  HcuCoprocessor Hcu;
  X86Side Side;
};

TEST(HcuLookup, SidebandBaseRegisterLeadsToTheMmioBlock) {
  HcuConfig Config;
  Config.MmioBase = 0xFE800000;
  Config.SidebandBlock = Hcu::AlternateSidebandBlock;
  DeviceSetConfig Set;
  Set.Coprocessor = Config;
  DeviceSet Devices(Set);
  EXPECT_EQ(Devices.Sideband().Peek(0x13E102E0), 0xFE800001u) << "the raw register carries a low bit";
  uint32_t Base = LookUpBase(Devices.Mmio(), Hcu::AlternateSidebandBlock);
  EXPECT_EQ(Base, 0xFE800000u);
  Devices.Mmio().Write(Base + 0x10900 + 0x5C, 4, 1);
  EXPECT_EQ(Devices.Coprocessor().LockStatistics().X86Requests, 1u);
  EXPECT_EQ(LookUpBase(Devices.Mmio(), Hcu::DefaultSidebandBlock), 0u) << "the other family's block is empty";
}

TEST(HcuLookup, AbsentCoprocessorReadsZeroAndHasNoBlock) {
  DeviceSetConfig Set;
  Set.Coprocessor.Present = false;
  DeviceSet Devices(Set);
  EXPECT_EQ(LookUpBase(Devices.Mmio(), Hcu::DefaultSidebandBlock), 0u);
  EXPECT_EQ(Devices.Mmio().OwnerOf(Set.Coprocessor.MmioBase), nullptr);
  EXPECT_TRUE(Devices.Sideband().UnknownReads().empty()) << "the base register is known even when it reads 0";
}

TEST_F(Coprocessor, IdleCoprocessorLetsTheX86SideStraightIn) {
  ASSERT_TRUE(Side.Acquire());
  EXPECT_EQ(Side.Polls, 0u);
  Side.Release();
  HcuMutexStatistics Stats = Hcu.LockStatistics();
  EXPECT_EQ(Stats.X86Requests, 1u);
  EXPECT_EQ(Stats.X86Releases, 1u);
  EXPECT_EQ(Stats.CoprocessorAcquisitions, 0u);
  EXPECT_EQ(Side.Read(Hcu::Mutex::CoprocessorFlagOffset), 0u);
}

struct PlanCase {
  const char *Name;
  CoprocessorLockPlan Plan;
  // Whether the x86 side must wait for the coprocessor, or goes first and leaves it waiting.
  bool X86Waits;
};

class ContendedLock : public Coprocessor, public ::testing::WithParamInterface<PlanCase> {};

TEST_P(ContendedLock, X86SideIsNeverInsideWhileTheCoprocessorHoldsIt) {
  Hcu.SetLockPlan(GetParam().Plan, 3);
  for (int Round = 0; Round < 3; ++Round) {
    Side.Polls = 0;
    ASSERT_TRUE(Side.Acquire()) << "round " << Round;
    EXPECT_FALSE(Hcu.CoprocessorHoldsLock()) << "round " << Round;
    if (GetParam().X86Waits) {
      EXPECT_GE(Side.Polls, 1u) << "round " << Round;
    }
    Side.Release();
  }
  HcuMutexStatistics Stats = Hcu.LockStatistics();
  EXPECT_EQ(Stats.ExclusionViolations, 0u);
  EXPECT_EQ(Stats.X86Requests, 3u);
  EXPECT_GE(Stats.CoprocessorAcquisitions, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Plans, ContendedLock,
    ::testing::Values(PlanCase{"HoldsBeforeX86", CoprocessorLockPlan::HoldsBeforeX86, true},
                      PlanCase{"RequestsAfterX86Flag", CoprocessorLockPlan::RequestsAfterX86Flag, true},
                      PlanCase{"RequestsAfterX86Turn", CoprocessorLockPlan::RequestsAfterX86Turn, false}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(Coprocessor, HeldLockIsReleasedAfterItsPollsAndCountedEachTime) {
  Hcu.SetLockPlan(CoprocessorLockPlan::HoldsBeforeX86, 4);
  for (int Round = 0; Round < 2; ++Round) {
    ASSERT_TRUE(Side.Acquire());
    Side.Release();
  }
  HcuMutexStatistics Stats = Hcu.LockStatistics();
  EXPECT_EQ(Stats.CoprocessorAcquisitions, 2u);
  EXPECT_EQ(Stats.PollsWhileHeld, 8u);
}

TEST_F(Coprocessor, CoprocessorWaitingBehindTheX86SideEntersOnRelease) {
  Hcu.SetLockPlan(CoprocessorLockPlan::RequestsAfterX86Turn, 2);
  ASSERT_TRUE(Side.Acquire());
  EXPECT_EQ(Hcu.LockStatistics().CoprocessorAcquisitions, 0u);
  Side.Release();
  EXPECT_TRUE(Hcu.CoprocessorHoldsLock());
  EXPECT_EQ(Hcu.LockStatistics().CoprocessorAcquisitions, 1u);
}

TEST_F(Coprocessor, X86SideThatDoesNotWaitIsCaughtInsideWithTheCoprocessor) {
  Hcu.SetLockPlan(CoprocessorLockPlan::HoldsBeforeX86, 5);
  Side.Write(Hcu::Mutex::X86FlagOffset, 1);
  Side.Write(Hcu::Mutex::TurnOffset, Hcu::Mutex::TurnCoprocessor);
  Side.Release();
  EXPECT_EQ(Hcu.LockStatistics().ExclusionViolations, 1u);
}

TEST_F(Coprocessor, X86SideThatHandsOverTheTurnBeforeRaisingItsFlagIsCaught) {
  Hcu.SetLockPlan(CoprocessorLockPlan::RequestsAfterX86Turn, 5);
  Side.Write(Hcu::Mutex::TurnOffset, Hcu::Mutex::TurnCoprocessor);
  Side.Write(Hcu::Mutex::X86FlagOffset, 1);
  while (Side.Read(Hcu::Mutex::CoprocessorFlagOffset) == 1 && Side.Read(Hcu::Mutex::TurnOffset) == 1) {
  }
  Side.Release();
  EXPECT_EQ(Hcu.LockStatistics().ExclusionViolations, 1u);
}

TEST_F(Coprocessor, RequestNowMakesTheX86SideWait) {
  Hcu.SetLockPlan(CoprocessorLockPlan::NeverWants, 2);
  Hcu.RequestLockNow();
  EXPECT_TRUE(Hcu.CoprocessorHoldsLock());
  ASSERT_TRUE(Side.Acquire());
  EXPECT_EQ(Side.Polls, 1u) << "one loop turn reads the flag and the turn: two polls";
  Side.Release();
  EXPECT_EQ(Hcu.LockStatistics().ExclusionViolations, 0u);
}

TEST_F(Coprocessor, OtherRegistersOfTheBlockArePlainStorage) {
  Hcu.Set(0x10, 0xCAFE);
  EXPECT_EQ(Bus.Read(Config().MmioBase + 0x10, 4), 0xCAFEu);
  Bus.Write(Config().MmioBase + 0xFFFFC, 4, 3);
  EXPECT_EQ(Hcu.Get(0xFFFFC), 3u);
  EXPECT_THROW(Hcu.Get(0x100000), std::out_of_range);
}

struct BadConfig {
  const char *Name;
  uint64_t Base;
  uint32_t Mailbox;
  uint32_t LowBits;
};

class HcuConfigCheck : public ::testing::TestWithParam<BadConfig> {};

TEST_P(HcuConfigCheck, InconsistentConfigurationIsRefused) {
  HcuConfig Config;
  Config.MmioBase = GetParam().Base;
  Config.MailboxOffset = GetParam().Mailbox;
  Config.BaseRegisterLowBits = GetParam().LowBits;
  EXPECT_THROW(HcuCoprocessor{Config}, std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(Configs, HcuConfigCheck,
                         ::testing::Values(BadConfig{"Unaligned", 0xFEB80000, 0x10500, 0},
                                           BadConfig{"Above4G", 0x100000000, 0x10500, 0},
                                           BadConfig{"MailboxOutside", 0xFEB00000, 0xFFFA0, 0},
                                           BadConfig{"LowBitsInBase", 0xFEB00000, 0x10500, 0x00100000}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

}  // namespace
}  // namespace sim
