// The layout of a boot's timeline from recorded marks: phases one after another, slices nested in
// them, service calls inside the phase they interrupted, AP procedures on their own tracks, and
// every duration the report's estimate.
#include "tools/BootTrace.h"

#include <gtest/gtest.h>

#include "tools/AccessReport.h"

namespace ccxsim {
namespace {

using sim::AccessCounts;
using sim::CountedAccess;
using sim::TimelineMark;

// Round latencies, so that the expected times are plain to read.
sim::CostModel TestModel() {
  sim::CostModel Model;
  Model.Source = "test";
  Model.Nanoseconds[size_t(CountedAccess::MsrRead)] = 100;
  Model.Nanoseconds[size_t(CountedAccess::MsrWrite)] = 200;
  Model.Nanoseconds[size_t(CountedAccess::ApStart)] = 1000;
  Model.Nanoseconds[size_t(CountedAccess::ApProcedure)] = 500;
  return Model;
}

// The running totals of a boot, advanced as the test says what happened.
struct Totals {
  AccessCounts Now;
  Totals &Bsp(CountedAccess Kind, uint64_t Count) {
    Now.Bsp[size_t(Kind)] += Count;
    return *this;
  }
  Totals &Aps(CountedAccess Kind, uint64_t Count) {
    Now.Ap[size_t(Kind)] += Count;
    return *this;
  }
};

TimelineMark Phase(const std::string &Name, const AccessCounts &At) {
  return {TimelineMark::Phase, "", Name, At, nullptr};
}
TimelineMark Begin(const std::string &Category, const std::string &Name, const AccessCounts &At) {
  return {TimelineMark::Begin, Category, Name, At, nullptr};
}
TimelineMark End(const AccessCounts &At) { return {TimelineMark::End, "", "", At, nullptr}; }

std::vector<sim::TopologyPosition> Processors(size_t Count) { return std::vector<sim::TopologyPosition>(Count); }

const TraceSlice &Named(const TraceTrack &Track, const std::string &Name) {
  for (const TraceSlice &Slice : Track.Slices) {
    if (Slice.Name == Name) return Slice;
  }
  throw std::runtime_error("no slice " + Name);
}

TEST(BootTrace, PhasesFollowOneAnotherWithTheReportsEstimateAndNotifyFunctionsNestInThem) {
  sim::TimelineRecord Timeline;
  sim::BootRecord Boot;
  Totals Count;
  Timeline.Marks.push_back(Phase("entry", Count.Now));
  Count.Bsp(CountedAccess::MsrRead, 3);
  Timeline.Marks.push_back(Phase("ready_to_boot", Count.Now));
  Count.Bsp(CountedAccess::MsrRead, 1);
  Timeline.Marks.push_back(Begin("notify", "CcxReadyToBoot", Count.Now));
  Count.Bsp(CountedAccess::MsrWrite, 2);
  Timeline.Marks.push_back(End(Count.Now));
  Count.Bsp(CountedAccess::MsrRead, 1);
  Timeline.Final = Count.Now;
  Boot.Accesses = {{"entry", Totals().Bsp(CountedAccess::MsrRead, 3).Now},
                   {"ready_to_boot", Totals().Bsp(CountedAccess::MsrRead, 2).Bsp(CountedAccess::MsrWrite, 2).Now}};

  const BootTrace Trace = BuildBootTrace(Timeline, Boot, Processors(1), TestModel(), "boot 1 of 1");
  ASSERT_EQ(Trace.Tracks.size(), 1u);
  const TraceTrack &Bsp = Trace.Tracks[0];
  ASSERT_EQ(Bsp.Slices.size(), 3u);
  EXPECT_EQ(Bsp.Slices[0].Name, "entry");
  EXPECT_DOUBLE_EQ(Bsp.Slices[0].Begin, 0);
  EXPECT_DOUBLE_EQ(Bsp.Slices[0].Duration, 300);
  EXPECT_DOUBLE_EQ(Bsp.Slices[0].ReportEstimate, 300);
  const TraceSlice &Ready = Named(Bsp, "ready_to_boot");
  const TraceSlice &Notify = Named(Bsp, "CcxReadyToBoot");
  EXPECT_DOUBLE_EQ(Ready.Begin, 300);
  EXPECT_DOUBLE_EQ(Ready.Duration, 600);
  EXPECT_DOUBLE_EQ(Ready.ReportEstimate, 600);
  EXPECT_EQ(Notify.Category, "notify");
  EXPECT_EQ(Notify.Depth, 1u);
  EXPECT_DOUBLE_EQ(Notify.Begin, 400);
  EXPECT_DOUBLE_EQ(Notify.Duration, 400);
  EXPECT_EQ(Notify.Counts.OnBsp(CountedAccess::MsrWrite), 2u);
  EXPECT_EQ(Notify.Counts.OnBsp(CountedAccess::MsrRead), 0u);
  EXPECT_DOUBLE_EQ(Trace.Total, 900);
}

TEST(BootTrace, ServiceCallsNestInThePhaseTheyInterruptAndKeepTheirOwnEstimate) {
  sim::TimelineRecord Timeline;
  sim::BootRecord Boot;
  Totals Count;
  Timeline.Marks.push_back(Phase("after_boot", Count.Now));
  Count.Bsp(CountedAccess::MsrRead, 1);
  Timeline.Marks.push_back(Phase(kServicePhasePrefix + "HEST banks", Count.Now));
  Count.Bsp(CountedAccess::MsrRead, 4);
  Timeline.Marks.push_back(Phase("after_boot", Count.Now));
  Timeline.Marks.push_back(Phase(kServicePhasePrefix + "SRAT entries", Count.Now));
  Count.Bsp(CountedAccess::MsrWrite, 1);
  Timeline.Marks.push_back(Phase("after_boot", Count.Now));
  Count.Bsp(CountedAccess::MsrRead, 2);
  Timeline.Final = Count.Now;
  Boot.Accesses = {{"after_boot", Totals().Bsp(CountedAccess::MsrRead, 3).Now},
                   {kServicePhasePrefix + "HEST banks", Totals().Bsp(CountedAccess::MsrRead, 4).Now},
                   {kServicePhasePrefix + "SRAT entries", Totals().Bsp(CountedAccess::MsrWrite, 1).Now}};

  const BootTrace Trace = BuildBootTrace(Timeline, Boot, Processors(1), TestModel(), "boot 1 of 1");
  const TraceTrack &Bsp = Trace.Tracks[0];
  ASSERT_EQ(Bsp.Slices.size(), 3u);
  const TraceSlice &After = Named(Bsp, "after_boot");
  const TraceSlice &Hest = Named(Bsp, "HEST banks");
  const TraceSlice &Srat = Named(Bsp, "SRAT entries");
  EXPECT_EQ(Hest.Category, "service");
  EXPECT_EQ(Hest.Depth, 1u);
  EXPECT_DOUBLE_EQ(Hest.Begin, 100);
  EXPECT_DOUBLE_EQ(Hest.Duration, 400);
  EXPECT_DOUBLE_EQ(Hest.ReportEstimate, 400);
  EXPECT_DOUBLE_EQ(Srat.Begin, 500);
  EXPECT_DOUBLE_EQ(Srat.Duration, 200);
  // The phase holds its calls; the report's figure for it is what remains.
  EXPECT_DOUBLE_EQ(After.Duration, 900);
  EXPECT_DOUBLE_EQ(After.ReportEstimate, 300);
  EXPECT_DOUBLE_EQ(Trace.Total, 900);
}

TEST(BootTrace, AStartSharesItsApWorkAsThePhaseDoesAndEachApShowsItsOwnProcedure) {
  sim::TimelineRecord Timeline;
  sim::BootRecord Boot;
  Totals Count;
  Timeline.Marks.push_back(Phase("entry", Count.Now));
  Count.Bsp(CountedAccess::MsrRead, 1);
  Timeline.Marks.push_back(Begin("mp", "StartupAllAPs(ApInit)", Count.Now));
  // Two APs: one reads four MSRs, the other eight.
  Count.Bsp(CountedAccess::ApStart, 1).Aps(CountedAccess::ApProcedure, 2).Aps(CountedAccess::MsrRead, 12);
  Timeline.Marks.push_back(End(Count.Now));
  Timeline.Final = Count.Now;
  Boot.Accesses = {{"entry", Count.Now}};
  for (size_t Processor : {1, 2}) {
    sim::TimelineProcedure Procedure;
    Procedure.Processor = Processor;
    Procedure.Name = "ApInit";
    Procedure.Start = 1;
    Procedure.Ended = true;
    Procedure.Counts = Totals().Aps(CountedAccess::ApProcedure, 1).Aps(CountedAccess::MsrRead, 4 * Processor).Now;
    Timeline.Procedures.push_back(Procedure);
  }

  const BootTrace Trace = BuildBootTrace(Timeline, Boot, Processors(3), TestModel(), "boot 1 of 1");
  ASSERT_EQ(Trace.Tracks.size(), 3u);
  const TraceSlice &Start = Named(Trace.Tracks[0], "StartupAllAPs(ApInit)");
  // The start's own latency, and the APs' work halved: two procedures ran side by side.
  EXPECT_DOUBLE_EQ(Start.Begin, 100);
  EXPECT_DOUBLE_EQ(Start.Duration, 1000 + (2 * 500 + 12 * 100) / 2.0);
  EXPECT_DOUBLE_EQ(Trace.Total, sim::EstimatePhase(TestModel(), Boot.Accesses[0]).Total);
  EXPECT_EQ(Trace.Tracks[1].Name, "AP 1");
  EXPECT_EQ(Trace.Tracks[2].Name, "AP 2");
  EXPECT_DOUBLE_EQ(Trace.Tracks[1].Slices.at(0).Begin, 100);
  EXPECT_DOUBLE_EQ(Trace.Tracks[1].Slices.at(0).Duration, 500 + 400);
  EXPECT_DOUBLE_EQ(Trace.Tracks[2].Slices.at(0).Duration, 500 + 800);
  EXPECT_EQ(Trace.Tracks[2].Slices.at(0).Counts.OnAps(CountedAccess::MsrRead), 8u);
}

TEST(BootTrace, AnApRunsItsNextProcedureOnlyOnceItsLastOneIsDone) {
  sim::TimelineRecord Timeline;
  sim::BootRecord Boot;
  Totals Count;
  Timeline.Marks.push_back(Phase("entry", Count.Now));
  for (size_t Start = 0; Start < 2; Start++) {
    Timeline.Marks.push_back(Begin("mp", "StartupThisAP(Work)", Count.Now));
    Count.Bsp(CountedAccess::ApStart, 1).Aps(CountedAccess::ApProcedure, 1);
    Timeline.Marks.push_back(End(Count.Now));
    sim::TimelineProcedure Procedure;
    Procedure.Processor = 1;
    Procedure.Start = Timeline.Marks.size() - 2;
    Procedure.Ended = true;
    // Far more than the start's own latency: the second start begins before the AP is free.
    Procedure.Counts = Totals().Aps(CountedAccess::ApProcedure, 1).Aps(CountedAccess::MsrWrite, 20).Now;
    Timeline.Procedures.push_back(Procedure);
  }
  Timeline.Final = Count.Now;
  Boot.Accesses = {{"entry", Count.Now}};

  const BootTrace Trace = BuildBootTrace(Timeline, Boot, Processors(2), TestModel(), "boot 1 of 1");
  const std::vector<TraceSlice> &Ap = Trace.Tracks.at(1).Slices;
  ASSERT_EQ(Ap.size(), 2u);
  EXPECT_DOUBLE_EQ(Ap[0].Begin, 0);
  EXPECT_DOUBLE_EQ(Ap[1].Begin, Ap[0].End());
  EXPECT_EQ(Ap[1].Start, 2u);
}

TEST(BootTrace, ASliceTheBootNeverLeftEndsWithTheBoot) {
  sim::TimelineRecord Timeline;
  sim::BootRecord Boot;
  Totals Count;
  Timeline.Marks.push_back(Phase("ready_to_boot", Count.Now));
  Timeline.Marks.push_back(Begin("notify", "ResetsTheMachine", Count.Now));
  Count.Bsp(CountedAccess::MsrWrite, 3);
  Timeline.Final = Count.Now;
  Boot.Accesses = {{"ready_to_boot", Count.Now}};

  const BootTrace Trace = BuildBootTrace(Timeline, Boot, Processors(1), TestModel(), "boot 1 of 1");
  const TraceSlice &Notify = Named(Trace.Tracks[0], "ResetsTheMachine");
  EXPECT_DOUBLE_EQ(Notify.End(), 600);
  EXPECT_DOUBLE_EQ(Named(Trace.Tracks[0], "ready_to_boot").End(), 600);
}

}  // namespace
}  // namespace ccxsim
