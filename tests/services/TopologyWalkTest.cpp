// The topology iterator on the simulated fabric topology service: walk order and step codes on
// even and uneven machines, failing queries, restarts, bad arguments and empty levels.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "services/TopologyWalk.h"
#include "sim/cpu/Topology.h"
#include "sim/siblings/FabricServices.h"
#include "sim/siblings/FaultInjector.h"

using namespace CcxImage;

namespace {

constexpr UINTN kNotStarted = kTopologyNotStarted;
using Indices = std::array<UINTN, 6>;

// One step at Depth (1 = die ... 5 = thread) through the matching entry point.
INTN StepAt(unsigned Depth, Indices &Index, QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  UINTN *I = Index.data();
  switch (Depth) {
    case 1: return TopologyNextDie(&I[0], &I[1], Service);
    case 2: return TopologyNextComplexDie(&I[0], &I[1], &I[2], Service);
    case 3: return TopologyNextComplex(&I[0], &I[1], &I[2], &I[3], Service);
    case 4: return TopologyNextCore(&I[0], &I[1], &I[2], &I[3], &I[4], Service);
    default: return TopologyNextThread(&I[0], &I[1], &I[2], &I[3], &I[4], &I[5], Service);
  }
}

struct Visit {
  INTN Code;
  Indices Position;
  bool operator==(const Visit &) const = default;
};

// Steps from the start until the walk ends; the bound only stops a runaway walk.
std::vector<Visit> WalkAt(unsigned Depth, QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  Indices Index;
  Index.fill(kNotStarted);
  std::vector<Visit> Visits;
  for (int Guard = 0; Guard < 4096; Guard++) {
    const INTN Code = StepAt(Depth, Index, Service);
    if (Code == StepEnd) break;
    Visits.push_back({Code, Index});
  }
  return Visits;
}

// What a walk at Depth must report, worked out from the machine's own list of thread positions:
// every distinct position down to Depth in order, with the code of the highest level that differs
// from the position before it.
std::vector<Visit> ExpectedWalk(unsigned Depth, const sim::Topology &Shape) {
  std::vector<Visit> Expected;
  for (const sim::TopologyPosition &Thread : Shape.Walk()) {
    Indices Position = {Thread.Socket, Thread.Die, Thread.ComplexDie, Thread.Complex, Thread.Core, Thread.Thread};
    for (unsigned Level = Depth + 1; Level < 6; Level++) Position[Level] = kNotStarted;
    if (!Expected.empty() && Expected.back().Position == Position) continue;
    INTN Code = 0;
    if (!Expected.empty()) {
      while (Expected.back().Position[Code] == Position[Code]) Code++;
    }
    Expected.push_back({Code, Position});
  }
  return Expected;
}

// A fabric topology service played by the simulator for a given shape.
class SimulatedFabric {
 public:
  explicit SimulatedFabric(const sim::Topology &Shape, std::vector<sim::InjectedFault> Faults = {})
      : Shape_(Shape), Faults_(std::move(Faults)), Fabric_(Shape_, Faults_) {}
  QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service() { return Fabric_.TopologyProtocol(); }
  uint64_t Calls(const std::string &Query) const { return Faults_.Calls("fabric_topology", Query); }

 private:
  sim::Topology Shape_;
  sim::FaultInjector Faults_;
  sim::FabricServices Fabric_;
};

sim::Topology Uniform(uint32_t Sockets, uint32_t Dies, uint32_t ComplexDies, uint32_t Complexes, uint32_t Cores,
                      uint32_t Threads) {
  return sim::Topology({Sockets, Dies, ComplexDies, Complexes, Cores, Threads});
}

std::vector<INTN> Codes(const std::vector<Visit> &Visits) {
  std::vector<INTN> Result;
  for (const Visit &Entry : Visits) Result.push_back(Entry.Code);
  return Result;
}

TEST(TopologyWalk, TwoThreadsPerCoreAlternateThreadAndCoreCodes) {
  SimulatedFabric Fabric(Uniform(1, 1, 1, 2, 2, 2));
  EXPECT_EQ(Codes(WalkAt(5, Fabric.Service())), (std::vector<INTN>{0, 5, 4, 5, 3, 5, 4, 5}));
}

TEST(TopologyWalk, EachLevelCrossingReportsItsOwnCode) {
  SimulatedFabric Fabric(Uniform(2, 2, 2, 2, 1, 1));
  EXPECT_EQ(Codes(WalkAt(5, Fabric.Service())), (std::vector<INTN>{0, 3, 2, 3, 1, 3, 2, 3, 0, 3, 2, 3, 1, 3, 2, 3}));
}

// Machines of every kind, walked at every depth.
struct ShapeCase {
  const char *Name;
  sim::Topology (*Make)();
};

const ShapeCase kShapes[] = {
    {"OneThread", [] { return Uniform(1, 1, 1, 1, 1, 1); }},
    {"DefaultMachine", [] { return Uniform(1, 1, 8, 1, 8, 2); }},
    {"TwoSockets", [] { return Uniform(2, 1, 4, 2, 8, 2); }},
    {"SevenAndEightCores", [] { return Uniform(1, 1, 2, 2, 8, 2).SetCores(0, 0, 1, 1, 7); }},
    {"UnevenEveryLevel",
     [] {
       sim::Topology Shape = Uniform(2, 2, 3, 2, 4, 2);
       Shape.SetDies(1, 1).SetComplexDies(0, 1, 1).SetComplexes(1, 0, 2, 1).SetCores(0, 0, 0, 1, 3);
       Shape.SetThreads(1, 0, 1, 0, 2, 1);
       return Shape;
     }},
};

class WalkOrder : public ::testing::TestWithParam<std::tuple<ShapeCase, unsigned>> {};

TEST_P(WalkOrder, VisitsEveryPositionOnceInOrderWithTheLevelThatMoved) {
  const auto &[Shape, Depth] = GetParam();
  const sim::Topology Topology = Shape.Make();
  SimulatedFabric Fabric(Topology);
  const std::vector<Visit> Walked = WalkAt(Depth, Fabric.Service());
  const std::vector<Visit> Expected = ExpectedWalk(Depth, Topology);
  ASSERT_EQ(Walked.size(), Expected.size());
  for (size_t Index = 0; Index < Expected.size(); Index++) {
    EXPECT_EQ(Walked[Index].Code, Expected[Index].Code) << "step " << Index;
    EXPECT_LE(Walked[Index].Code, static_cast<INTN>(Depth));
    for (unsigned Level = 0; Level <= Depth; Level++) {
      EXPECT_EQ(Walked[Index].Position[Level], Expected[Index].Position[Level])
          << "step " << Index << " level " << Level;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Machines, WalkOrder,
                         ::testing::Combine(::testing::ValuesIn(kShapes), ::testing::Range(1u, 6u)),
                         [](const auto &Info) {
                           return std::string(std::get<0>(Info.param).Name) + "Depth" +
                                  std::to_string(std::get<1>(Info.param));
                         });

TEST(TopologyWalk, FirstPositionIsReportedWithoutAskingTheService) {
  SimulatedFabric Fabric(Uniform(1, 1, 1, 1, 1, 1));
  Indices Index;
  Index.fill(kNotStarted);
  EXPECT_EQ(StepAt(5, Index, Fabric.Service()), StepSocket);
  EXPECT_EQ(Index, (Indices{0, 0, 0, 0, 0, 0}));
  for (const char *Query : {"GetNumberOfSockets", "GetNumberOfDies", "GetNumberOfComplexDies", "GetNumberOfComplexes",
                            "GetNumberOfCores", "GetNumberOfThreads"}) {
    EXPECT_EQ(Fabric.Calls(Query), 0u) << Query;
  }
}

TEST(TopologyWalk, EndedWalkStaysEndedAtItsLastPosition) {
  SimulatedFabric Fabric(Uniform(1, 1, 1, 1, 2, 1));
  Indices Index;
  Index.fill(kNotStarted);
  EXPECT_EQ(StepAt(5, Index, Fabric.Service()), StepSocket);
  EXPECT_EQ(StepAt(5, Index, Fabric.Service()), StepCore);
  for (int Again = 0; Again < 3; Again++) {
    EXPECT_EQ(StepAt(5, Index, Fabric.Service()), StepEnd);
    EXPECT_EQ(Index, (Indices{0, 0, 0, 0, 1, 0}));
  }
}

// A count query that fails once, at a call the walk reaches part-way through.
struct FailureCase {
  const char *Query;
  uint64_t Call;
};

class FailingQuery : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailingQuery, EndsTheWalkWithoutMovingOrRestartingIt) {
  const sim::Topology Shape = Uniform(2, 1, 2, 1, 2, 2);
  SimulatedFabric Fabric(Shape, {{"fabric_topology", GetParam().Query, GetParam().Call, 0x8000000000000007ULL}});
  const std::vector<Visit> Full = ExpectedWalk(5, Shape);
  Indices Index;
  Index.fill(kNotStarted);
  size_t Reached = 0;
  INTN Code = StepAt(5, Index, Fabric.Service());
  while (Code != StepEnd) {
    ASSERT_LT(Reached, Full.size());
    EXPECT_EQ(Index, Full[Reached].Position);
    Reached++;
    Code = StepAt(5, Index, Fabric.Service());
  }
  ASSERT_GT(Reached, 0u);
  ASSERT_LT(Reached, Full.size()) << "the failure must end the walk early";
  EXPECT_EQ(Index, Full[Reached - 1].Position) << "the failed step leaves the position as it was";
  // The query answers again now; the walk goes on from where it stopped rather than from the start.
  EXPECT_EQ(StepAt(5, Index, Fabric.Service()), Full[Reached].Code);
  EXPECT_EQ(Index, Full[Reached].Position);
}

INSTANTIATE_TEST_SUITE_P(Queries, FailingQuery,
                         ::testing::Values(FailureCase{"GetNumberOfSockets", 1}, FailureCase{"GetNumberOfDies", 1},
                                           FailureCase{"GetNumberOfComplexDies", 2},
                                           FailureCase{"GetNumberOfComplexes", 3}, FailureCase{"GetNumberOfCores", 2},
                                           FailureCase{"GetNumberOfThreads", 5}));

class RestartMidWalk : public ::testing::TestWithParam<unsigned> {};

TEST_P(RestartMidWalk, AnyIndexSetToNotStartedRestartsAtTheFirstPosition) {
  SimulatedFabric Fabric(Uniform(2, 1, 2, 2, 2, 2));
  Indices Index;
  Index.fill(kNotStarted);
  for (int Step = 0; Step < 11; Step++) ASSERT_NE(StepAt(5, Index, Fabric.Service()), StepEnd);
  Index[GetParam()] = kNotStarted;
  EXPECT_EQ(StepAt(5, Index, Fabric.Service()), StepSocket);
  EXPECT_EQ(Index, (Indices{0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(StepAt(5, Index, Fabric.Service()), StepThread);
}

INSTANTIATE_TEST_SUITE_P(EachLevel, RestartMidWalk, ::testing::Range(0u, 6u));

TEST(TopologyWalk, IndexAlreadyPastItsCountEndsTheWalkUnchanged) {
  SimulatedFabric Fabric(Uniform(1, 1, 1, 1, 4, 2));
  Indices Index = {0, 0, 0, 0, 6, 0};
  EXPECT_EQ(StepAt(4, Index, Fabric.Service()), StepEnd);
  EXPECT_EQ(Index, (Indices{0, 0, 0, 0, 6, 0}));
  Index = {0, 0, 0, 0, 1, 5};
  EXPECT_EQ(StepAt(5, Index, Fabric.Service()), StepEnd);
  EXPECT_EQ(Index, (Indices{0, 0, 0, 0, 1, 5}));
}

// Every entry point, with each of its index pointers missing in turn.
class MissingIndex : public ::testing::TestWithParam<std::tuple<unsigned, unsigned>> {};

TEST_P(MissingIndex, EndsTheWalkWithoutTouchingAnything) {
  const auto [Depth, Missing] = GetParam();
  SimulatedFabric Fabric(Uniform(1, 1, 1, 1, 2, 2));
  Indices Index;
  Index.fill(kNotStarted);
  std::array<UINTN *, 6> Pointers;
  for (unsigned Level = 0; Level < 6; Level++) Pointers[Level] = &Index[Level];
  Pointers[Missing] = nullptr;
  UINTN **P = Pointers.data();
  QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service = Fabric.Service();
  INTN Code = 0;
  switch (Depth) {
    case 1: Code = TopologyNextDie(P[0], P[1], Service); break;
    case 2: Code = TopologyNextComplexDie(P[0], P[1], P[2], Service); break;
    case 3: Code = TopologyNextComplex(P[0], P[1], P[2], P[3], Service); break;
    case 4: Code = TopologyNextCore(P[0], P[1], P[2], P[3], P[4], Service); break;
    default: Code = TopologyNextThread(P[0], P[1], P[2], P[3], P[4], P[5], Service); break;
  }
  EXPECT_EQ(Code, StepEnd);
  for (UINTN Value : Index) EXPECT_EQ(Value, kNotStarted);
}

// (depth, missing index) for every index each entry point takes.
std::vector<std::tuple<unsigned, unsigned>> EveryIndexOfEveryDepth() {
  std::vector<std::tuple<unsigned, unsigned>> Cases;
  for (unsigned Depth = 1; Depth < 6; Depth++) {
    for (unsigned Missing = 0; Missing <= Depth; Missing++) Cases.emplace_back(Depth, Missing);
  }
  return Cases;
}

INSTANTIATE_TEST_SUITE_P(EachPointer, MissingIndex, ::testing::ValuesIn(EveryIndexOfEveryDepth()));

// Every step refuses a missing record at once, even for the first position, and changes nothing:
// a walk without a record has no position to report.
class MissingRecord : public ::testing::TestWithParam<unsigned> {};

TEST_P(MissingRecord, EndsTheWalkWithNothingChanged) {
  const unsigned Depth = GetParam();
  Indices Index;
  Index.fill(kNotStarted);
  EXPECT_EQ(StepAt(Depth, Index, nullptr), StepEnd);
  for (UINTN Value : Index) EXPECT_EQ(Value, kNotStarted);
  Index.fill(0);
  EXPECT_EQ(StepAt(Depth, Index, nullptr), StepEnd);
  EXPECT_EQ(Index, (Indices{0, 0, 0, 0, 0, 0}));
}

INSTANTIATE_TEST_SUITE_P(EachDepth, MissingRecord, ::testing::Range(1u, 6u));

// A walk kept in a position record remembers why it ended: success for its normal end, the
// failed query's status when a count could not be had, at thread and at complex depth alike.
INTN StepRecord(unsigned Depth, TOPOLOGY_POSITION &At, QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  return Depth == 3 ? TopologyNextComplexPosition(&At, Service) : TopologyNextPosition(&At, Service);
}

size_t WalkRecord(unsigned Depth, TOPOLOGY_POSITION &At, QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  size_t Positions = 0;
  while (Positions < 4096 && StepRecord(Depth, At, Service) != StepEnd) Positions++;
  return Positions;
}

class WalkRecordEnd : public ::testing::TestWithParam<unsigned> {};

TEST_P(WalkRecordEnd, NormalEndIsSuccess) {
  const sim::Topology Shape = Uniform(2, 1, 2, 2, 2, 2);
  SimulatedFabric Fabric(Shape);
  TOPOLOGY_POSITION At;
  EXPECT_EQ(WalkRecord(GetParam(), At, Fabric.Service()), ExpectedWalk(GetParam(), Shape).size());
  EXPECT_EQ(At.QueryStatus, EFI_SUCCESS);
  // A further step keeps the walk ended and its end a normal one.
  EXPECT_EQ(StepRecord(GetParam(), At, Fabric.Service()), StepEnd);
  EXPECT_EQ(At.QueryStatus, EFI_SUCCESS);
}

TEST_P(WalkRecordEnd, FailedQueryIsRemembered) {
  const sim::Topology Shape = Uniform(2, 1, 2, 2, 2, 2);
  SimulatedFabric Fabric(Shape, {{"fabric_topology", "GetNumberOfComplexes", 2, 0x8000000000000007ULL}});
  TOPOLOGY_POSITION At;
  EXPECT_LT(WalkRecord(GetParam(), At, Fabric.Service()), ExpectedWalk(GetParam(), Shape).size());
  EXPECT_EQ(At.QueryStatus, 0x8000000000000007ULL);
}

TEST_P(WalkRecordEnd, MissingRecordIsAFailureBeforeTheFirstPosition) {
  TOPOLOGY_POSITION At;
  EXPECT_EQ(StepRecord(GetParam(), At, nullptr), StepEnd);
  EXPECT_EQ(At.Socket, kNotStarted);
  EXPECT_EQ(At.QueryStatus, EFI_INVALID_PARAMETER);
}

INSTANTIATE_TEST_SUITE_P(ComplexAndThreadDepth, WalkRecordEnd, ::testing::Values(3u, 5u));

// A service whose counts are all 1 except one level that has none.
struct EmptyLevelService {
  QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL Protocol;
  unsigned EmptyLevel;
};

EmptyLevelService *Owner(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This) {
  return reinterpret_cast<EmptyLevelService *>(This);
}
EFI_STATUS Answer(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, unsigned Level, UINTN *Count) {
  *Count = Owner(This)->EmptyLevel == Level ? 0 : 1;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI Sockets(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN *Count) {
  return Answer(This, 0, Count);
}
EFI_STATUS EFIAPI Dies(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN, UINTN *Count) {
  return Answer(This, 1, Count);
}
EFI_STATUS EFIAPI ComplexDies(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN, UINTN, UINTN *Count) {
  return Answer(This, 2, Count);
}
EFI_STATUS EFIAPI Complexes(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN, UINTN, UINTN, UINTN *Count) {
  return Answer(This, 3, Count);
}
EFI_STATUS EFIAPI Cores(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN, UINTN, UINTN, UINTN, UINTN *Count) {
  return Answer(This, 4, Count);
}
EFI_STATUS EFIAPI Threads(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *This, UINTN, UINTN, UINTN, UINTN, UINTN,
                          UINTN *Count) {
  return Answer(This, 5, Count);
}

class EmptyLevel : public ::testing::TestWithParam<unsigned> {};

TEST_P(EmptyLevel, EndsTheWalkAfterTheFirstPosition) {
  EmptyLevelService Service = {{1, nullptr, Sockets, Dies, ComplexDies, Complexes, Cores, Threads}, GetParam()};
  const std::vector<Visit> Visits = WalkAt(5, &Service.Protocol);
  ASSERT_EQ(Visits.size(), 1u);
  EXPECT_EQ(Visits[0], (Visit{StepSocket, {0, 0, 0, 0, 0, 0}}));
}

INSTANTIATE_TEST_SUITE_P(EachLevel, EmptyLevel, ::testing::Range(0u, 6u));

}  // namespace
