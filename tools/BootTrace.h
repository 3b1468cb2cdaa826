// A boot's timeline in estimated time on hardware: the slices of the BSP (the boot's phases, the
// notify functions, MP services starts and service calls nested in them) and of each AP (the
// procedures it ran), placed one after another by the cost model's estimate of what each did. The
// durations are the report's figures: a phase's slices add up to the estimate the report gives it.
#ifndef TOOLS_BOOT_TRACE_H_
#define TOOLS_BOOT_TRACE_H_

#include <cstddef>
#include <string>
#include <vector>

#include "sim/cpu/Topology.h"
#include "sim/platform/BootRunner.h"
#include "sim/platform/BootTimeline.h"
#include "sim/platform/CostModel.h"

namespace ccxsim {

struct TraceSlice {
  std::string Name;
  // "phase", "service" (a consumer's call after the boot), "notify", "mp" (a start) or "procedure".
  std::string Category;
  // Nanoseconds of estimated time from the boot's start.
  double Begin = 0;
  double Duration = 0;
  // 0 for what is not inside another slice of its track.
  size_t Depth = 0;
  // What happened during the slice, nested slices included.
  sim::AccessCounts Counts;
  // Phases and service calls: the estimate the report gives them (a phase's own, without the
  // service calls nested in it); negative for other slices.
  double ReportEstimate = -1;
  // AP procedures: the index in the BSP's slices of the start that ran it.
  size_t Start = 0;

  double End() const { return Begin + Duration; }
};

struct TraceTrack {
  std::string Name;  // "BSP", "AP 17"
  size_t Processor = 0;
  // Where the processor sits, down to its complex: what the APs of a big machine are folded by.
  std::string Complex;
  // In order of their begin, a slice before the slices nested in it.
  std::vector<TraceSlice> Slices;
};

struct BootTrace {
  std::string Title;  // "boot 1 of 2"
  // The end of the last phase, in nanoseconds.
  double Total = 0;
  // The BSP first, then every AP that ran a procedure, by processor number.
  std::vector<TraceTrack> Tracks;
  size_t ProcessorCount = 0;
};

// Lays out the recorded boot with the cost model the report uses. Positions are the machine's
// processors in walk order, which is the order of their numbers.
BootTrace BuildBootTrace(const sim::TimelineRecord &Timeline, const sim::BootRecord &Boot,
                         const std::vector<sim::TopologyPosition> &Positions, const sim::CostModel &Model,
                         const std::string &Title);

}  // namespace ccxsim

#endif  // TOOLS_BOOT_TRACE_H_
