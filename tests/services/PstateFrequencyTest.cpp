// The figures of one P-state: the divisor rules with their fatal stops and fallbacks, the voltage
// and power arithmetic, the P-state number alias, the overclocking override of P0 with the
// frequency limit, the messages, and GetPstatePower. Definition registers are written as raw
// values from the register's bit layout.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "interfaces/PlatformConfig.h"
#include "services/AcpiServices.h"
#include "services/PstateFrequency.h"
#include "tests/driver/DriverFixture.h"

namespace {

constexpr uint32_t kPstateDef0 = 0xC0010064;
constexpr uint32_t kFrequencyLimit = 0xC0010292;
constexpr uint64_t kUntouched = 0x5A5A5A5A5A5A5A5AULL;

// A P-state definition register: enable bit 63, current divisor 31:30, current 29:22, voltage
// identifier 21:14 with its bit 8 at bit 32, divisor identifier 13:8, frequency identifier 7:0.
uint64_t Definition(uint64_t Fid, uint64_t DfsId, uint64_t Vid = 0x30, uint64_t IddValue = 100, uint64_t IddDiv = 0,
                    bool Enabled = true) {
  return (Enabled ? 1ULL << 63 : 0) | (Vid >> 8 & 1) << 32 | IddDiv << 30 | IddValue << 22 | (Vid & 0xFF) << 14 |
         DfsId << 8 | Fid;
}

struct Figures {
  uint64_t FrequencyMHz = kUntouched;
  uint64_t VoltageUv = kUntouched;
  uint64_t PowerMw = kUntouched;
};

class PstateFixture : public DriverFixture {
 protected:
  BOOLEAN Compute(uint32_t Pstate, Figures &Out) {
    return image::RellGetPstateFrequency(nullptr, Pstate, &Out.FrequencyMHz, &Out.VoltageUv, &Out.PowerMw);
  }
};

struct DivisorCase {
  const char *Name;
  uint64_t Fid;
  uint64_t DfsId;
  uint64_t FrequencyMHz;
  std::vector<uint32_t> FatalStops;
};

class PstateDivisor : public PstateFixture, public ::testing::WithParamInterface<DivisorCase> {};

TEST_P(PstateDivisor, FrequencyFollowsTheDivisorRules) {
  const DivisorCase &Case = GetParam();
  Firmware.Msrs[kPstateDef0 + 2] = Definition(Case.Fid, Case.DfsId);
  Figures Out;
  ASSERT_TRUE(Compute(2, Out));
  EXPECT_EQ(Out.FrequencyMHz, Case.FrequencyMHz);
  EXPECT_EQ(FatalStops(), Case.FatalStops);
  const bool Undefined = Case.DfsId != 0 && (Case.DfsId < 8 || Case.DfsId > 60);
  const std::string Message =
      "    Undefined CpuDfsId " + std::to_string(Case.DfsId) + " used. Force it to div 1.";
  const std::vector<std::string> Shown = Lines();
  EXPECT_EQ(std::count(Shown.begin(), Shown.end(), Message), Undefined ? 1 : 0) << Uart();
}

INSTANTIATE_TEST_SUITE_P(
    Divisors, PstateDivisor,
    ::testing::Values(DivisorCase{"DivideByOne", 0x7C, 8, 3100, {}}, DivisorCase{"DivideByTwo", 0x7C, 16, 1550, {}},
                      DivisorCase{"OddUpTo26IsDefined", 90, 9, 2000, {}},
                      DivisorCase{"Odd26OrBelowAtTheEdge", 130, 25, 1040, {}},
                      DivisorCase{"OddAbove26StopsAndStillDivides", 100, 27, 740, {0x30850112}},
                      DivisorCase{"EvenAbove26IsDefined", 100, 28, 714, {}},
                      DivisorCase{"LastDefined", 120, 60, 400, {}}, DivisorCase{"ZeroGivesNoClock", 0x7C, 0, 0, {}},
                      DivisorCase{"UndefinedLowFallsBackToOne", 0x7C, 1, 3100, {0x30850120}},
                      DivisorCase{"UndefinedSevenFallsBackToOne", 0x7C, 7, 3100, {0x30850120}},
                      DivisorCase{"UndefinedOddHighStopsTwice", 0x7C, 61, 3100, {0x30850112, 0x30850120}},
                      DivisorCase{"UndefinedEvenHigh", 0x7C, 62, 3100, {0x30850120}}),
    [](const ::testing::TestParamInfo<DivisorCase> &Info) { return std::string(Info.param.Name); });

struct PowerCase {
  const char *Name;
  uint64_t Vid;
  uint64_t IddValue;
  uint64_t IddDiv;
  uint64_t VoltageUv;
  uint64_t PowerMw;
  std::vector<uint32_t> FatalStops;
};

class PstatePower : public PstateFixture, public ::testing::WithParamInterface<PowerCase> {};

TEST_P(PstatePower, VoltageAndPowerComeFromTheIdentifiersInSteps) {
  const PowerCase &Case = GetParam();
  Firmware.Msrs[kPstateDef0 + 1] = Definition(0x7C, 8, Case.Vid, Case.IddValue, Case.IddDiv);
  Figures Out;
  ASSERT_TRUE(Compute(1, Out));
  EXPECT_EQ(Out.VoltageUv, Case.VoltageUv);
  EXPECT_EQ(Out.PowerMw, Case.PowerMw);
  EXPECT_EQ(FatalStops(), Case.FatalStops);
}

INSTANTIATE_TEST_SUITE_P(
    Identifiers, PstatePower,
    ::testing::Values(PowerCase{"Amperes", 0x30, 100, 0, 485000, 48500, {}},
                      PowerCase{"Tenths", 0x30, 100, 1, 485000, 4850, {}},
                      PowerCase{"Hundredths", 0x30, 100, 2, 485000, 485, {}},
                      PowerCase{"HundredthsTruncate", 0x30, 1, 2, 485000, 4, {}},
                      PowerCase{"UndefinedCurrentDivisorStopsWithNoPower", 0x30, 100, 3, 485000, 0, {0x30850167}},
                      PowerCase{"VoltageZeroIsNoVoltage", 0, 100, 0, 0, 0, {}},
                      PowerCase{"FirstStepIs250mV", 1, 10, 0, 250000, 2500, {}},
                      PowerCase{"NinthBitSitsApart", 0x101, 7, 1, 1530000, 1071, {}}),
    [](const ::testing::TestParamInfo<PowerCase> &Info) { return std::string(Info.param.Name); });

TEST_F(PstateFixture, MessagesShowTheFiguresOfTheFoldedNumber) {
  Firmware.Msrs[kPstateDef0 + 1] = Definition(0x7C, 8, 0x30, 100, 0);
  Figures Out;
  ASSERT_TRUE(Compute(0x81, Out));
  EXPECT_EQ(Out.FrequencyMHz, 3100u);
  const std::vector<std::string> Expected = {"  RellGetPstateFrequency - P1",
                                             "    FrequencyInMHz=3100, CpuFid=124, CpuVid=48, CpuDfsId=8",
                                             "    KVL3 VoltageInuV=0x76688", "    PowerInmW=0xBD74"};
  EXPECT_EQ(Lines(), Expected);
}

TEST_F(PstateFixture, DisabledPstateWritesAndPrintsNothing) {
  Firmware.Msrs[kPstateDef0 + 3] = Definition(0x7C, 8, 0x30, 100, 0, false);
  Figures Out;
  EXPECT_FALSE(Compute(3, Out));
  EXPECT_EQ(Out.FrequencyMHz, kUntouched);
  EXPECT_EQ(Out.VoltageUv, kUntouched);
  EXPECT_EQ(Out.PowerMw, kUntouched);
  EXPECT_TRUE(Lines().empty()) << Uart();
}

class PstateNumberOutOfRange : public PstateFixture, public ::testing::WithParamInterface<uint32_t> {};

// Numbers that name no definition register are refused even where the register they would read
// holds an enabled-looking value.
TEST_P(PstateNumberOutOfRange, IsReportedAsNotEnabled) {
  for (uint32_t Offset = 0; Offset < 16; Offset++) Firmware.Msrs[kPstateDef0 + Offset] = Definition(0x7C, 8);
  Firmware.Msrs[kPstateDef0 + 0x7FFFFFFF] = Definition(0x7C, 8);
  Figures Out;
  EXPECT_FALSE(Compute(GetParam(), Out));
  EXPECT_EQ(Out.FrequencyMHz, kUntouched);
}

INSTANTIATE_TEST_SUITE_P(Numbers, PstateNumberOutOfRange, ::testing::Values(8u, 15u, 0x88u, 0x7Fu, 0x80000001u));

struct OverclockCase {
  const char *Name;
  uint32_t Pstate;
  uint8_t OcMode;
  uint32_t Frequency;
  uint32_t FrequencyAuto;
  uint32_t Vid;
  uint32_t VidAuto;
  uint64_t LimitRegister;
  uint64_t FrequencyMHz;
  uint64_t VoltageUv;
  const char *Message;
};

class Overclocking : public PstateFixture, public ::testing::WithParamInterface<OverclockCase> {};

// P0 and P1 both run at 3100 MHz and 485 mV (identifier 0x30) unless the override applies.
TEST_P(Overclocking, ReplacesOnlyP0sFiguresWithinTheLimit) {
  const OverclockCase &Case = GetParam();
  Firmware.Msrs[kPstateDef0] = Definition(0x7C, 8);
  Firmware.Msrs[kPstateDef0 + 1] = Definition(0x7C, 8);
  Firmware.Msrs[kFrequencyLimit] = Case.LimitRegister;
  Firmware.Pcd[PcdCcxOcMode] = Case.OcMode;
  Firmware.Pcd[PcdCcxOcP0Frequency] = Case.Frequency;
  Firmware.Pcd[PcdCcxOcP0FrequencyAuto] = Case.FrequencyAuto;
  Firmware.Pcd[PcdCcxOcP0Vid] = Case.Vid;
  Firmware.Pcd[PcdCcxOcP0VidAuto] = Case.VidAuto;
  Figures Out;
  ASSERT_TRUE(Compute(Case.Pstate, Out));
  EXPECT_EQ(Out.FrequencyMHz, Case.FrequencyMHz);
  EXPECT_EQ(Out.VoltageUv, Case.VoltageUv);
  const std::vector<std::string> Shown = Lines();
  const bool Printed = std::count(Shown.begin(), Shown.end(), std::string(Case.Message)) == 1;
  EXPECT_TRUE(Case.Message[0] == '\0' || Printed) << Uart();
  EXPECT_EQ(Uart().find("exceeds") != std::string::npos, Case.Message[0] != '\0') << Uart();
}

INSTANTIATE_TEST_SUITE_P(
    Settings, Overclocking,
    ::testing::Values(
        // The limit: bits 20:15 hold 57, so 114 steps of 50 MHz; bit 30 adds one step.
        OverclockCase{"AboveTheLimitIsCut", 0, 1, 6000, 0, 0, 0, 57ULL << 15, 5700, 485000,
                      "  P0Freq 6000 exceeds Frequency Max limit of 5700"},
        OverclockCase{"LimitLowestStepSitsApart", 0, 1, 6000, 0, 0, 0, 57ULL << 15 | 1ULL << 30, 5750, 485000,
                      "  P0Freq 6000 exceeds Frequency Max limit of 5750"},
        OverclockCase{"WithinTheLimitIsTaken", 0, 1, 5000, 0, 0, 0, 57ULL << 15, 5000, 485000, ""},
        OverclockCase{"AtTheLimitIsTaken", 0, 1, 5700, 0, 0, 0, 57ULL << 15, 5700, 485000, ""},
        OverclockCase{"AliasOfP0IsOverridden", 0x80, 1, 5000, 0, 0, 0, 57ULL << 15, 5000, 485000, ""},
        OverclockCase{"AutomaticFrequencyKeepsP0", 0, 1, 5000, 5000, 0, 0, 57ULL << 15, 3100, 485000, ""},
        OverclockCase{"ZeroFrequencyKeepsP0", 0, 1, 0, 0, 0, 0, 57ULL << 15, 3100, 485000, ""},
        OverclockCase{"VoltageIdentifierTakesNineBits", 0, 1, 0, 0, 0x240, 0, 0, 3100, (0x40 + 49) * 5000, ""},
        OverclockCase{"AutomaticVoltageKeepsP0", 0, 1, 0, 0, 0x40, 0x40, 0, 3100, 485000, ""},
        OverclockCase{"ModeOffKeepsP0", 0, 0, 5000, 0, 0x40, 0, 57ULL << 15, 3100, 485000, ""},
        OverclockCase{"ModeTwoKeepsP0", 0, 2, 5000, 0, 0x40, 0, 57ULL << 15, 3100, 485000, ""},
        OverclockCase{"P1IsNeverOverridden", 1, 1, 6000, 0, 0x40, 0, 57ULL << 15, 3100, 485000, ""}),
    [](const ::testing::TestParamInfo<OverclockCase> &Info) { return std::string(Info.param.Name); });

TEST_F(PstateFixture, PowerQueryPassesThePowerOfAnEnabledPstate) {
  Firmware.Msrs[kPstateDef0 + 2] = Definition(0x7C, 8, 0x30, 100, 1);
  Firmware.Msrs[kPstateDef0 + 3] = Definition(0x7C, 8, 0x30, 100, 1, false);
  UINT64 Power = kUntouched;
  EXPECT_EQ(image::GetPstatePower(nullptr, 2, &Power), EFI_SUCCESS);
  EXPECT_EQ(Power, 4850u);
  Power = kUntouched;
  EXPECT_EQ(image::GetPstatePower(nullptr, 3, &Power), EFI_SUCCESS);
  EXPECT_EQ(Power, kUntouched);
  EXPECT_EQ(image::GetPstatePower(nullptr, 2, nullptr), EFI_INVALID_PARAMETER);
}

}  // namespace
