#include "sim/cpu/Topology.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace sim {
namespace {

TEST(TopologyTest, WalkGoesSocketFirstThreadFastestThroughUnevenCounts) {
  Topology Machine(UniformTopology{.Sockets = 2, .ComplexDiesPerDie = 2, .CoresPerComplex = 2, .ThreadsPerCore = 2});
  Machine.SetComplexDies(1, 0, 1).SetCores(0, 0, 1, 0, 1).SetThreads(0, 0, 1, 0, 0, 1);

  const std::vector<TopologyPosition> Expected = {
      {0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 1}, {0, 0, 0, 0, 1, 0}, {0, 0, 0, 0, 1, 1},
      {0, 0, 1, 0, 0, 0},  // one core with one thread
      {1, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 1}, {1, 0, 0, 0, 1, 0}, {1, 0, 0, 0, 1, 1},
  };
  EXPECT_EQ(Machine.Walk(), Expected);
}

struct CountCase {
  const char *Name;
  std::function<Topology()> Build;
  size_t Threads;
  uint32_t MaxCores;
  uint32_t MaxComplexDies;
};

class TopologyCountTest : public testing::TestWithParam<CountCase> {};

TEST_P(TopologyCountTest, CountsFollowEveryOverride) {
  const Topology Machine = GetParam().Build();
  EXPECT_EQ(Machine.Walk().size(), GetParam().Threads);
  EXPECT_EQ(Machine.MaxCount(TopologyLevel::Core), GetParam().MaxCores);
  EXPECT_EQ(Machine.MaxCount(TopologyLevel::ComplexDie), GetParam().MaxComplexDies);
}

INSTANTIATE_TEST_SUITE_P(
    Machines, TopologyCountTest,
    testing::Values(CountCase{"SevenAndEightCores",
                              [] {
                                Topology T(UniformTopology{
                                    .ComplexesPerComplexDie = 2, .CoresPerComplex = 8, .ThreadsPerCore = 2});
                                return T.SetCores(0, 0, 0, 0, 7);
                              },
                              30, 8, 1},
                    CountCase{"SecondSocketSmaller",
                              [] {
                                Topology T(UniformTopology{.Sockets = 2, .ComplexDiesPerDie = 4, .CoresPerComplex = 8});
                                return T.SetComplexDies(1, 0, 2).SetCores(1, 0, 1, 0, 3);
                              },
                              32 + 8 + 3, 8, 4},
                    CountCase{"OverriddenDieCount",
                              [] {
                                Topology T(UniformTopology{.Sockets = 2, .DiesPerSocket = 1, .CoresPerComplex = 2});
                                return T.SetDies(1, 3).SetComplexDies(1, 2, 5);
                              },
                              2 + 2 + 2 + 10, 2, 5},
                    CountCase{"LargestMachine",
                              [] {
                                return Topology(UniformTopology{.Sockets = 4,
                                                                .DiesPerSocket = 4,
                                                                .ComplexDiesPerDie = 12,
                                                                .ComplexesPerComplexDie = 2,
                                                                .CoresPerComplex = 8,
                                                                .ThreadsPerCore = 2});
                              },
                              6144, 8, 12}),
    [](const auto &Info) { return std::string(Info.param.Name); });

struct ProblemCase {
  const char *Name;
  std::function<void(Topology &)> Break;
  const char *Message;
};

class TopologyProblemTest : public testing::TestWithParam<ProblemCase> {};

TEST_P(TopologyProblemTest, ValidationNamesWhatIsOutOfRange) {
  Topology Machine(UniformTopology{.Sockets = 2, .ComplexDiesPerDie = 2, .CoresPerComplex = 4, .ThreadsPerCore = 2});
  GetParam().Break(Machine);
  try {
    Machine.Validate();
    FAIL() << "validation accepted the topology";
  } catch (const TopologyError &Error) {
    EXPECT_NE(std::string(Error.what()).find(GetParam().Message), std::string::npos) << Error.what();
  }
  EXPECT_THROW(Machine.Walk(), TopologyError);
}

INSTANTIATE_TEST_SUITE_P(
    Problems, TopologyProblemTest,
    testing::Values(
        ProblemCase{"TooManySockets", [](Topology &T) { T.SetCount(TopologyLevel::Socket, {}, 5); },
                    "the machine has 5 sockets; the most is 4"},
        ProblemCase{"NoSockets", [](Topology &T) { T.SetCount(TopologyLevel::Socket, {}, 0); },
                    "the machine has no sockets; it needs at least 1"},
        ProblemCase{"TooManyDies", [](Topology &T) { T.SetDies(1, 5); }, "socket 1 has 5 dies; the most is 4"},
        ProblemCase{"TooManyComplexDies", [](Topology &T) { T.SetComplexDies(0, 0, 13); },
                    "socket 0 die 0 has 13 complex dies; the most is 12"},
        ProblemCase{"TooManyComplexes", [](Topology &T) { T.SetComplexes(1, 0, 1, 3); },
                    "socket 1 die 0 complex die 1 has 3 complexes; the most is 2"},
        ProblemCase{"TooManyCores", [](Topology &T) { T.SetCores(1, 0, 1, 0, 9); },
                    "socket 1 die 0 complex die 1 complex 0 has 9 cores; the most is 8"},
        ProblemCase{"CoreWithoutThreads", [](Topology &T) { T.SetThreads(0, 0, 1, 0, 3, 0); },
                    "socket 0 die 0 complex die 1 complex 0 core 3 has no threads; it needs at least 1"},
        ProblemCase{"TooManyThreads", [](Topology &T) { T.SetThreads(0, 0, 0, 0, 2, 3); },
                    "core 2 has 3 threads; the most is 2"},
        ProblemCase{"OverrideForMissingComplexDie", [](Topology &T) { T.SetCores(0, 0, 2, 0, 8); },
                    "the count of cores set for socket 0 die 0 complex die 2 complex 0 names a place the machine "
                    "does not have"},
        ProblemCase{"OverrideForMissingSocket", [](Topology &T) { T.SetDies(2, 1); },
                    "the count of dies set for socket 2 names a place"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(TopologyTest, ValidationListsEveryProblemAtOnce) {
  Topology Machine(UniformTopology{.CoresPerComplex = 9, .ThreadsPerCore = 4});
  // The complex with nine cores, and each of the eight cores that a walk can reach.
  EXPECT_EQ(Machine.Problems().size(), 1u + 8u);
}

TEST(TopologyTest, LaterOverrideOfTheSameInstanceWins) {
  Topology Machine(UniformTopology{.CoresPerComplex = 8});
  Machine.SetCores(0, 0, 0, 0, 3).SetCores(0, 0, 0, 0, 5);
  EXPECT_EQ(Machine.Count(TopologyLevel::Core, {}), 5u);
  EXPECT_EQ(Machine.Walk().size(), 5u);
}

}  // namespace
}  // namespace sim
