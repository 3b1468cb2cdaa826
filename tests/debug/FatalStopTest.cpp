// FatalStop: disabled, answered by the simulation back-door, the scrolling display cycle as a
// pure function, and the delay's tick count from the current P-state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeDebugHardware.h"
#include "debug/FatalStop.h"
#include "driver/ImageState.h"

namespace {

namespace image = CCX_IMAGE_NAMESPACE;
using fake::Access;
using fake::IoWrite;

class FatalStopFixture : public testing::Test {
 protected:
  FatalStopFixture() { image::ImageLoad(); }
  ~FatalStopFixture() override { image::ImageLoad(); }
  fake::FakeDebugHardware Hardware;
};

using FatalStop = FatalStopFixture;

TEST_F(FatalStop, DisabledStopReturnsWithoutWriting) {
  Hardware.Backdoor = 0;  // would never return if it went on
  image::FatalStop(0x30910235);
  EXPECT_TRUE(Hardware.Log.empty());
}

TEST_F(FatalStop, BackdoorAnswerReturnsAfterShowingTheCode) {
  image::gImage.Library.TestPointConfig.FatalStopEnable = 1;
  Hardware.Backdoor = 1;
  image::FatalStop(0x30910235);
  EXPECT_EQ(Hardware.Log, (std::vector<Access>{IoWrite(0xE0, 2, 0xDEAD), IoWrite(0x80, 4, 0x30910235)}));
}

struct RingCase {
  UINT32 Code;
  std::vector<UINT32> Shown;
};

class FatalStopDisplay : public testing::TestWithParam<RingCase> {};

TEST_P(FatalStopDisplay, EveryCycleShowsTheSameSixWindowsOfTheRing) {
  UINT32 Shown[image::kFatalStopWindows];
  const UINT64 Ring = image::FatalStopRing(GetParam().Code);
  EXPECT_EQ(Ring >> 48, 0xDEADu);
  UINT64 Next = Ring;
  for (int Cycle = 0; Cycle < 3; Cycle++) {
    Next = image::FatalStopCycle(Next, Shown);
    EXPECT_EQ(std::vector<UINT32>(Shown, Shown + 6), GetParam().Shown) << "cycle " << Cycle;
    EXPECT_EQ(Next, Ring);
  }
}

INSTANTIATE_TEST_SUITE_P(
    FatalStop, FatalStopDisplay,
    testing::Values(
        RingCase{0x30910235, {0x350000DE, 0x0000DEAD, 0x00DEAD30, 0xDEAD3091, 0xAD309102, 0x30910235}},
        RingCase{0x000A0123, {0x230000DE, 0x0000DEAD, 0x00DEAD00, 0xDEAD000A, 0xAD000A01, 0x000A0123}}));

struct DelayCase {
  const char *Name;
  uint64_t Status;      // P-state status register
  uint32_t Definition;  // the definition register the current P-state selects
  uint64_t Fid;
  uint64_t Did;
  uint64_t TscStep;
  unsigned Pauses;  // counter reads that were still inside the wait
  uint64_t StartTsc = 5000;
};

class FatalStopWait : public FatalStopFixture, public testing::WithParamInterface<DelayCase> {};

TEST_P(FatalStopWait, WaitsTwoAndAHalfSecondsOfTicks) {
  const DelayCase &Case = GetParam();
  Hardware.Msrs[0xC0010063] = Case.Status;
  Hardware.Msrs[Case.Definition] = 0xFFFFC000ULL | (Case.Did << 8) | Case.Fid;
  Hardware.Tsc = Case.StartTsc;
  Hardware.TscStep = Case.TscStep;
  EXPECT_EQ(image::FatalStopDelay(), 2500000u);
  EXPECT_EQ(Hardware.MsrReads, (std::vector<uint32_t>{0xC0010063, Case.Definition}));
  EXPECT_EQ(Hardware.Pauses, Case.Pauses);
}

// Ticks = FID x 200 MHz / DID x 2.5 s; the wait pauses while the elapsed count is at most Ticks.
INSTANTIATE_TEST_SUITE_P(
    FatalStop, FatalStopWait,
    testing::Values(DelayCase{"Pstate2Fid16Did8", 2, 0xC0010066, 0x10, 8, 100000000, 10},  // 1e9 ticks
                    DelayCase{"DidZeroCountsAsOne", 0, 0xC0010064, 1, 0, 100000000, 5},    // 5e8 ticks
                    DelayCase{"DidOne", 0, 0xC0010064, 1, 1, 100000000, 5},
                    DelayCase{"OnlyLowThreeStatusBits", 0xF9, 0xC0010065, 0x10, 8, 300000000, 3},
                    DelayCase{"LargestFid", 7, 0xC001006B, 0xFF, 1, 12750000000ULL, 10},  // 1.275e11 ticks
                    // A counter that wraps during the wait still waits the full count.
                    DelayCase{"CounterWrapsDuringTheWait", 0, 0xC0010064, 1, 1, 100000000, 5, ~0ULL - 150000000}),
    [](const testing::TestParamInfo<DelayCase> &Info) { return std::string(Info.param.Name); });

}  // namespace
