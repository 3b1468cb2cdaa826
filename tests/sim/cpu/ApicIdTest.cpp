#include "sim/cpu/ApicId.h"

#include <gtest/gtest.h>

#include <string>

namespace sim {
namespace {

TEST(ApicIdTest, WorkedExampleOfTwelveComplexDiesNumbersThread0x13B) {
  const Topology Machine(UniformTopology{
      .Sockets = 2, .ComplexDiesPerDie = 12, .ComplexesPerComplexDie = 1, .CoresPerComplex = 8, .ThreadsPerCore = 2});
  const ApicIdMaxima Maxima = MaximaOf(Machine, false);

  EXPECT_EQ(LayoutOf(Maxima),
            (ApicIdLayout{.CoreShift = 1, .ComplexShift = 4, .ComplexDieShift = 4, .SocketShift = 8}));
  EXPECT_EQ(ApicIdOf(Maxima, {.Socket = 1, .ComplexDie = 3, .Core = 5, .Thread = 1}), 0x13Bu);
}

struct NumberingCase {
  const char *Name;
  ApicIdMaxima Maxima;
  TopologyPosition Position;
  uint32_t ApicId;
};

class ApicIdNumberingTest : public testing::TestWithParam<NumberingCase> {};

TEST_P(ApicIdNumberingTest, FieldsFollowTheMaxima) {
  EXPECT_EQ(ApicIdOf(GetParam().Maxima, GetParam().Position), GetParam().ApicId);
}

// Maxima in the order socket, complex die, complex, core, padding flag, threads per core.
INSTANTIATE_TEST_SUITE_P(
    Layouts, ApicIdNumberingTest,
    testing::Values(
        // One thread per core: no thread field, the core field starts at bit 0.
        NumberingCase{"OneThreadCoreFieldAtBitZero", {0, 0, 1, 7, false, 1}, {0, 0, 0, 1, 5, 0}, 0xD},
        // The padding flag moves the complex field up to bit 4 even without a thread field.
        NumberingCase{"OneThreadPaddedComplexAtBitFour", {0, 0, 1, 7, true, 1}, {0, 0, 0, 1, 5, 0}, 0x15},
        NumberingCase{"SmallCoreFieldUnpadded", {1, 3, 1, 3, false, 2}, {1, 0, 2, 1, 3, 1}, 0x6F},
        NumberingCase{"SmallCoreFieldPadded", {1, 3, 1, 3, true, 2}, {1, 0, 2, 1, 3, 1}, 0xD7},
        // A core field that already reaches bit 4 is not moved by the flag.
        NumberingCase{"PaddingWithoutEffect", {0, 0, 1, 7, true, 2}, {0, 0, 0, 1, 7, 1}, 0x1F},
        NumberingCase{"LargestMachineLastThread", {3, 11, 1, 7, false, 2}, {3, 0, 11, 1, 7, 1}, 0x77F},
        // The die takes no part in the number.
        NumberingCase{"DieIgnored", {3, 11, 1, 7, false, 2}, {2, 3, 4, 0, 6, 0}, 0x48C}),
    [](const auto &Info) { return std::string(Info.param.Name); });

struct RegisterCase {
  const char *Name;
  UniformTopology Counts;
  uint32_t FewerCoresInFirstComplex;
  bool CoreFieldPadding;
  uint32_t Register;
};

class CoreTopologyRegisterTest : public testing::TestWithParam<RegisterCase> {};

TEST_P(CoreTopologyRegisterTest, RegisterHoldsTheMachineMaxima) {
  Topology Machine(GetParam().Counts);
  if (GetParam().FewerCoresInFirstComplex != 0) {
    Machine.SetCores(0, 0, 0, 0, GetParam().FewerCoresInFirstComplex);
  }
  const uint32_t Register = CoreTopologyRegisterFor(Machine, GetParam().CoreFieldPadding);
  EXPECT_EQ(Register, GetParam().Register);
  EXPECT_EQ(MaximaFromRegister(Register, GetParam().Counts.ThreadsPerCore),
            MaximaOf(Machine, GetParam().CoreFieldPadding));
}

INSTANTIATE_TEST_SUITE_P(
    Machines, CoreTopologyRegisterTest,
    testing::Values(
        // Socket max 1 (bit 25), complex-die max 11 (bits 24:21), core max 7 (bits 19:16), padding (bit 11).
        RegisterCase{"TwelveComplexDiesPadded", {2, 1, 12, 1, 8, 2}, 0, true, 0x03670800},
        // Socket max 3, complex max 1 (bit 20), core max 4: the largest complex counts.
        RegisterCase{"UnevenComplexes", {4, 1, 1, 2, 5, 1}, 3, false, 0x06140000},
        RegisterCase{"SingleThread", {1, 1, 1, 1, 1, 1}, 0, false, 0x00000000}),
    [](const auto &Info) { return std::string(Info.param.Name); });

struct OutOfRangeCase {
  const char *Name;
  TopologyPosition Position;
};

class ApicIdOutOfRangeTest : public testing::TestWithParam<OutOfRangeCase> {};

TEST_P(ApicIdOutOfRangeTest, IndexAboveItsMaximumIsRefused) {
  const ApicIdMaxima Maxima{1, 3, 0, 5, false, 1};
  EXPECT_THROW(ApicIdOf(Maxima, GetParam().Position), std::out_of_range);
}

INSTANTIATE_TEST_SUITE_P(Fields, ApicIdOutOfRangeTest,
                         testing::Values(OutOfRangeCase{"Socket", {2, 0, 0, 0, 0, 0}},
                                         OutOfRangeCase{"ComplexDie", {0, 0, 4, 0, 0, 0}},
                                         OutOfRangeCase{"Complex", {0, 0, 0, 1, 0, 0}},
                                         OutOfRangeCase{"Core", {0, 0, 0, 0, 6, 0}},
                                         OutOfRangeCase{"Thread", {0, 0, 0, 0, 0, 1}}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST(ApicIdTest, MaximaThatDoNotFitTheRegisterAreRefused) {
  EXPECT_THROW(LayoutOf({0, 12, 0, 0, false, 1}), std::invalid_argument);
  EXPECT_THROW(LayoutOf({0, 0, 0, 8, false, 1}), std::invalid_argument);
  EXPECT_THROW(LayoutOf({0, 0, 0, 0, false, 0}), std::invalid_argument);
  EXPECT_THROW(LayoutOf({0, 0, 0, 0, false, 3}), std::invalid_argument);
}

}  // namespace
}  // namespace sim
