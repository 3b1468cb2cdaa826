// Routing, refusal of overlapping claims, and what the buses answer where no device is.
#include "sim/devices/Bus.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "sim/devices/ByteStore.h"
#include "sim/devices/IoBus.h"
#include "sim/devices/MmioBus.h"

namespace sim {
namespace {

// A device that holds plain bytes over its ranges, for exercising the buses alone.
class PlainDevice : public Device {
 public:
  PlainDevice(std::string Name, std::vector<AddressRange> Ranges)
      : Device(std::move(Name)), Ranges_(std::move(Ranges)), Store_(Ranges_.front().Size) {}
  std::vector<AddressRange> Ranges() const override { return Ranges_; }

 protected:
  uint64_t OnRead(uint64_t Address, unsigned Width) override { return Store_.Get(Address - Ranges_[0].Base, Width); }
  void OnWrite(uint64_t Address, unsigned Width, uint64_t Value) override {
    Store_.Set(Address - Ranges_[0].Base, Width, Value);
  }

 private:
  std::vector<AddressRange> Ranges_;
  ByteStore Store_;
};

struct WidthCase {
  unsigned Width;
  uint64_t Expected;
};

class UnclaimedMmioRead : public ::testing::TestWithParam<WidthCase> {};

TEST_P(UnclaimedMmioRead, ReadsAllOnesOfItsWidthAndIsCounted) {
  MmioBus Bus;
  EXPECT_EQ(Bus.Read(0x1234, GetParam().Width), GetParam().Expected);
  EXPECT_EQ(Bus.Read(0x1234, GetParam().Width), GetParam().Expected);
  EXPECT_EQ(Bus.UnclaimedReadCount(), 2u);
  EXPECT_EQ(Bus.UnclaimedReads(), (std::map<uint64_t, uint64_t>{{0x1234, 2}}));
}

INSTANTIATE_TEST_SUITE_P(Widths, UnclaimedMmioRead,
                         ::testing::Values(WidthCase{1, 0xFF}, WidthCase{2, 0xFFFF}, WidthCase{4, 0xFFFFFFFF},
                                           WidthCase{8, ~0ULL}));

class UnclaimedPortRead : public ::testing::TestWithParam<WidthCase> {};

TEST_P(UnclaimedPortRead, ReadsAllOnesOfItsWidthAndIsCounted) {
  IoBus Bus;
  EXPECT_EQ(Bus.ReadPort(0x60, GetParam().Width), GetParam().Expected);
  EXPECT_EQ(Bus.UnclaimedReads(), (std::map<uint64_t, uint64_t>{{0x60, 1}}));
}

INSTANTIATE_TEST_SUITE_P(Widths, UnclaimedPortRead,
                         ::testing::Values(WidthCase{1, 0xFF}, WidthCase{2, 0xFFFF}, WidthCase{4, 0xFFFFFFFF}));

TEST(Bus, UnclaimedWriteIsDroppedAndCountedByAddress) {
  IoBus Bus;
  Bus.WritePort(0x70, 1, 0x8F);
  Bus.WritePort(0x70, 1, 0x0F);
  Bus.WritePort(0x71, 1, 0x00);
  EXPECT_EQ(Bus.UnclaimedWrites(), (std::map<uint64_t, uint64_t>{{0x70, 2}, {0x71, 1}}));
  EXPECT_EQ(Bus.UnclaimedWriteCount(), 3u);
  EXPECT_EQ(Bus.UnclaimedReadCount(), 0u);
}

TEST(Bus, ClaimedAccessReachesTheDeviceAndIsNotCounted) {
  MmioBus Bus;
  PlainDevice Ram("ram", {{0x1000, 0x100}});
  Bus.Attach(Ram);
  Bus.Write(0x1010, 4, 0x11223344);
  EXPECT_EQ(Bus.Read(0x1010, 4), 0x11223344u);
  EXPECT_EQ(Bus.Read(0x1012, 2), 0x1122u);
  EXPECT_EQ(Bus.UnclaimedReadCount() + Bus.UnclaimedWriteCount(), 0u);
  EXPECT_EQ(Bus.OwnerOf(0x10FF), &Ram);
  EXPECT_EQ(Bus.OwnerOf(0x1100), nullptr);
}

struct OverlapCase {
  const char *Name;
  AddressRange Second;
  bool Refused;
};

class ClaimOverlap : public ::testing::TestWithParam<OverlapCase> {};

TEST_P(ClaimOverlap, OverlappingClaimIsRefusedWithBothNames) {
  MmioBus Bus;
  PlainDevice First("first", {{0x2000, 0x100}});
  PlainDevice Second("second", {GetParam().Second});
  Bus.Attach(First);
  if (!GetParam().Refused) {
    EXPECT_NO_THROW(Bus.Attach(Second));
    return;
  }
  try {
    Bus.Attach(Second);
    FAIL() << "overlapping claim was accepted";
  } catch (const std::invalid_argument &Error) {
    EXPECT_NE(std::string(Error.what()).find("'second'"), std::string::npos) << Error.what();
    EXPECT_NE(std::string(Error.what()).find("'first'"), std::string::npos) << Error.what();
  }
  // The refused device took none of its addresses.
  EXPECT_NE(Bus.OwnerOf(GetParam().Second.Base), &Second);
  EXPECT_NE(Bus.OwnerOf(GetParam().Second.Last()), &Second);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, ClaimOverlap,
    ::testing::Values(OverlapCase{"Same", {0x2000, 0x100}, true}, OverlapCase{"Inside", {0x2040, 0x10}, true},
                      OverlapCase{"Around", {0x1F00, 0x300}, true}, OverlapCase{"TailOverHead", {0x1FF0, 0x11}, true},
                      OverlapCase{"HeadOverTail", {0x20FF, 0x10}, true}, OverlapCase{"JustBelow", {0x1F00, 0x100}, false},
                      OverlapCase{"JustAbove", {0x2100, 0x100}, false}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(Bus, DeviceWhoseOwnRangesOverlapIsRefusedWhole) {
  MmioBus Bus;
  PlainDevice Broken("broken", {{0x3000, 0x100}, {0x4000, 0x10}, {0x30F0, 0x20}});
  EXPECT_THROW(Bus.Attach(Broken), std::invalid_argument);
  EXPECT_EQ(Bus.OwnerOf(0x3000), nullptr);
}

TEST(Bus, PortClaimBeyondSixteenBitsIsRefused) {
  IoBus Bus;
  PlainDevice High("high", {{0xFFF8, 0x10}});
  EXPECT_THROW(Bus.Attach(High), std::invalid_argument);
}

TEST(Bus, AccessStraddlingAClaimEdgeIsRejectedNotPassedOn) {
  MmioBus Bus;
  PlainDevice Small("small", {{0x5000, 4}});
  Bus.Attach(Small);
  Bus.Write(0x5000, 4, 0xAABBCCDD);
  EXPECT_EQ(Bus.Read(0x5002, 4), 0xFFFFFFFFu);
  EXPECT_EQ(Bus.Read(0x4FFC, 8), ~0ULL);
  ASSERT_EQ(Bus.RejectedCount(), 2u);
  EXPECT_EQ(Bus.RejectedAccesses()[0].Address, 0x5002u);
  EXPECT_EQ(Bus.Read(0x5000, 4), 0xAABBCCDDu);
}

TEST(Bus, WidthTheBusDoesNotCarryIsRejected) {
  IoBus Ports;
  EXPECT_EQ(Ports.Read(0x80, 8), ~0ULL);
  Ports.Write(0x80, 3, 0);
  EXPECT_EQ(Ports.RejectedCount(), 2u);
  EXPECT_EQ(Ports.UnclaimedReadCount(), 0u);
}

TEST(MmioBus, FallbackServesOrdinaryMemoryBeforeCountingUnclaimed) {
  MmioBus Bus;
  PlainDevice Mapped("mapped", {{0xF000, 0x100}});
  Bus.Attach(Mapped);
  ByteStore Dram(0x1000);
  int FallbackCalls = 0;
  Bus.SetMemoryFallback([&](AccessKind Kind, uint64_t Address, unsigned Width, uint64_t &Value) {
    ++FallbackCalls;
    if (Address + Width > Dram.Size()) {
      return false;
    }
    if (Kind == AccessKind::Read) {
      Value = Dram.Get(Address, Width);
    } else {
      Dram.Set(Address, Width, Value);
    }
    return true;
  });
  Bus.Write(0x100, 8, 0x0102030405060708);
  EXPECT_EQ(Bus.Read(0x100, 8), 0x0102030405060708u);
  Bus.Write(0xF000, 1, 0x5A);
  EXPECT_EQ(FallbackCalls, 2) << "claimed addresses never reach the fallback";
  EXPECT_EQ(Bus.Read(0x20000, 4), 0xFFFFFFFFu);
  EXPECT_EQ(Bus.UnclaimedReads(), (std::map<uint64_t, uint64_t>{{0x20000, 1}}));
}

TEST(Device, TracingIsOffUntilTurnedOnAndThenRecordsInOrder) {
  IoBus Bus;
  PlainDevice Latch("latch", {{0x400, 4}});
  Bus.Attach(Latch);
  Bus.WritePort(0x400, 1, 7);
  EXPECT_TRUE(Latch.Trace().empty());
  Latch.SetTracing(true, 2);
  Bus.WritePort(0x401, 2, 0x1234);
  Bus.ReadPort(0x400, 4);
  Bus.ReadPort(0x400, 1);
  std::vector<AccessRecord> Trace = Latch.Trace();
  ASSERT_EQ(Trace.size(), 2u);
  EXPECT_EQ(Trace[0].Kind, AccessKind::Write);
  EXPECT_EQ(Trace[0].Address, 0x401u);
  EXPECT_EQ(Trace[0].Width, 2u);
  EXPECT_EQ(Trace[1].Kind, AccessKind::Read);
  EXPECT_EQ(Trace[1].Value, 0x00123407u);
  EXPECT_EQ(Latch.DroppedTraceRecords(), 1u);
}

TEST(Bus, ConcurrentProcessorsLoseNoAccess) {
  IoBus Bus;
  constexpr int Threads = 4;
  constexpr int PerThread = 2000;
  std::vector<std::thread> Workers;
  for (int T = 0; T < Threads; ++T) {
    Workers.emplace_back([&Bus, T] {
      for (int I = 0; I < PerThread; ++I) {
        Bus.WritePort(static_cast<uint16_t>(0x500 + T), 1, I);
        Bus.ReadPort(static_cast<uint16_t>(0x500 + T), 1);
      }
    });
  }
  for (std::thread &Worker : Workers) {
    Worker.join();
  }
  EXPECT_EQ(Bus.UnclaimedWriteCount(), uint64_t{Threads * PerThread});
  EXPECT_EQ(Bus.UnclaimedReadCount(), uint64_t{Threads * PerThread});
  EXPECT_EQ(Bus.UnclaimedWrites().at(0x503), uint64_t{PerThread});
}

}  // namespace
}  // namespace sim
