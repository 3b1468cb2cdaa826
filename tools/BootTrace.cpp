#include "tools/BootTrace.h"

#include <algorithm>
#include <map>
#include <optional>

#include "tools/AccessReport.h"

namespace ccxsim {
namespace {

bool IsService(const std::string &Phase) { return Phase.rfind(kServicePhasePrefix, 0) == 0; }

// Walks the BSP's marks in order, advancing the clock by the estimate of what was counted since
// the mark before: each stretch is priced with the overlap of the phase open during it, so the
// stretches of a phase add up to the phase's estimate, however slices and scopes cut it.
class BspLayout {
 public:
  BspLayout(const sim::BootRecord &Boot, const sim::CostModel &Model) : Model_(Model) {
    for (const sim::AccessPhase &Phase : Boot.Accesses) {
      Overlap_[Phase.Name] = sim::ApOverlap(Phase.Counts);
      Estimate_[Phase.Name] = sim::EstimatePhase(Model, Phase).Total;
    }
  }

  // Returns the slice the mark opened, if it opened one.
  std::optional<size_t> Take(const sim::TimelineMark &Mark) {
    Advance(Mark.At);
    switch (Mark.What) {
      case sim::TimelineMark::Phase: EnterPhase(Mark.Name); return std::nullopt;
      case sim::TimelineMark::Begin: return Open(Mark.Name, Mark.Category);
      case sim::TimelineMark::End: CloseSlice(); return std::nullopt;
    }
    return std::nullopt;
  }

  // Closes whatever the boot left open (a reset ends it inside a notify function).
  double Finish(const sim::AccessCounts &Final) {
    Advance(Final);
    while (!Open_.empty()) Close();
    return Now_;
  }

  std::vector<TraceSlice> &Slices() { return Slices_; }

 private:
  struct OpenSlice {
    size_t Index;
    sim::AccessCounts At;
    // The phase open before a service call's scope, which its end returns to; empty for others.
    std::string Returns;
    bool IsPhase;
  };

  void Advance(const sim::AccessCounts &At) {
    if (!Started_) {
      // What came before the first phase belongs to no phase, as in the report.
      Started_ = true;
      Last_ = At;
      return;
    }
    auto Overlap = Overlap_.find(Phase_);
    if (Overlap != Overlap_.end()) Now_ += sim::EstimateShare(Model_, At - Last_, Overlap->second);
    Last_ = At;
  }

  size_t Open(const std::string &Name, const std::string &Category, std::string Returns = "", bool IsPhase = false) {
    TraceSlice Slice;
    Slice.Name = Name;
    Slice.Category = Category;
    Slice.Begin = Now_;
    Slice.Depth = Open_.size();
    Slices_.push_back(Slice);
    Open_.push_back({Slices_.size() - 1, Last_, std::move(Returns), IsPhase});
    return Slices_.size() - 1;
  }

  void Close() {
    TraceSlice &Slice = Slices_[Open_.back().Index];
    Slice.Duration = Now_ - Slice.Begin;
    Slice.Counts = Last_ - Open_.back().At;
    Open_.pop_back();
  }

  void CloseSlice() {
    while (!Open_.empty()) {
      const bool WasPhase = Open_.back().IsPhase;
      Close();
      if (!WasPhase) return;
    }
  }

  void EnterPhase(const std::string &Name) {
    // A service call's scope ends by returning to the phase it interrupted.
    for (size_t Depth = Open_.size(); Depth-- > 0;) {
      if (!Open_[Depth].Returns.empty() && Open_[Depth].Returns == Name) {
        while (Open_.size() > Depth) Close();
        Phase_ = Name;
        return;
      }
    }
    if (IsService(Name) && !Phase_.empty()) {
      const size_t Index = Open(Name.substr(kServicePhasePrefix.size()), "service", Phase_, true);
      Slices_[Index].ReportEstimate = EstimateOf(Name);
    } else {
      while (!Open_.empty()) Close();
      // The unnamed phase before the first one (or after a scope opened outside any) shows nothing.
      if (!Name.empty()) {
        const bool Service = IsService(Name);
        const size_t Index =
            Open(Service ? Name.substr(kServicePhasePrefix.size()) : Name, Service ? "service" : "phase", "", true);
        Slices_[Index].ReportEstimate = EstimateOf(Name);
      }
    }
    Phase_ = Name;
  }

  double EstimateOf(const std::string &Phase) const {
    auto It = Estimate_.find(Phase);
    return It == Estimate_.end() ? 0 : It->second;
  }

  const sim::CostModel &Model_;
  std::map<std::string, double> Overlap_;
  std::map<std::string, double> Estimate_;
  std::vector<TraceSlice> Slices_;
  std::vector<OpenSlice> Open_;
  std::string Phase_;
  sim::AccessCounts Last_;
  bool Started_ = false;
  double Now_ = 0;
};

}  // namespace

BootTrace BuildBootTrace(const sim::TimelineRecord &Timeline, const sim::BootRecord &Boot,
                         const std::vector<sim::TopologyPosition> &Positions, const sim::CostModel &Model,
                         const std::string &Title) {
  BootTrace Trace;
  Trace.Title = Title;
  Trace.ProcessorCount = Positions.size();
  auto ComplexOf = [&Positions](size_t Processor) {
    return Processor < Positions.size()
               ? Positions[Processor].ParentOf(sim::TopologyLevel::Core).Describe(sim::TopologyLevel::Complex)
               : std::string("unknown complex");
  };

  BspLayout Bsp(Boot, Model);
  // The slice each start's Begin mark opened, by mark.
  std::map<size_t, size_t> StartSlices;
  for (size_t Index = 0; Index < Timeline.Marks.size(); Index++) {
    const std::optional<size_t> Opened = Bsp.Take(Timeline.Marks[Index]);
    if (Opened) StartSlices[Index] = *Opened;
  }
  Trace.Total = Bsp.Finish(Timeline.Final);
  Trace.Tracks.push_back({"BSP", 0, ComplexOf(0), std::move(Bsp.Slices())});

  // An AP's procedure takes what its own accesses take, since it ran alone on its processor. It
  // begins with the start that ran it, or when its AP is done with the procedure before: the
  // estimate gives a start the average of its procedures, so the longest of them outlasts it.
  std::map<size_t, TraceTrack> Aps;
  for (const sim::TimelineProcedure &Procedure : Timeline.Procedures) {
    auto Start = StartSlices.find(Procedure.Start);
    if (Start == StartSlices.end()) continue;
    TraceTrack &Track = Aps[Procedure.Processor];
    if (Track.Name.empty()) {
      Track.Name = "AP " + std::to_string(Procedure.Processor);
      Track.Processor = Procedure.Processor;
      Track.Complex = ComplexOf(Procedure.Processor);
    }
    TraceSlice Slice;
    Slice.Name = Procedure.Ended ? Procedure.Name : Procedure.Name + " (did not return)";
    Slice.Category = "procedure";
    Slice.Start = Start->second;
    Slice.Begin = Trace.Tracks[0].Slices[Start->second].Begin;
    if (!Track.Slices.empty()) Slice.Begin = std::max(Slice.Begin, Track.Slices.back().End());
    Slice.Duration = sim::EstimateShare(Model, Procedure.Counts, 1.0);
    Slice.Counts = Procedure.Counts;
    Track.Slices.push_back(Slice);
  }
  for (auto &[Processor, Track] : Aps) Trace.Tracks.push_back(std::move(Track));
  return Trace;
}

}  // namespace ccxsim
