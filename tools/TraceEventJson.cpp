#include "tools/TraceEventJson.h"

#include <cmath>

namespace ccxsim {
namespace {

// Trace times are microseconds; slices are placed on whole nanoseconds so that a nested slice's
// edges, rounded the same way as its parent's, never cross them.
double Microseconds(double Nanoseconds) { return std::round(Nanoseconds) / 1000.0; }

nlohmann::json Metadata(const char *Name, size_t Process, size_t Thread, nlohmann::json Args) {
  return {{"ph", "M"}, {"name", Name}, {"pid", Process}, {"tid", Thread}, {"args", std::move(Args)}};
}

// The estimate, then each kind of access the slice made: "msr_write" on the BSP,
// "msr_write_on_aps" on the APs.
nlohmann::json SliceArgs(const TraceSlice &Slice) {
  nlohmann::json Args = {{"estimate_ns", Slice.Duration}};
  if (Slice.ReportEstimate >= 0) Args["report_estimate_ns"] = Slice.ReportEstimate;
  for (size_t Index = 0; Index < sim::kCountedAccessKinds; Index++) {
    const std::string Key = sim::CountedAccessKey(sim::CountedAccess(Index));
    if (Slice.Counts.Bsp[Index] != 0) Args[Key] = Slice.Counts.Bsp[Index];
    if (Slice.Counts.Ap[Index] != 0) Args[Key + "_on_aps"] = Slice.Counts.Ap[Index];
  }
  return Args;
}

}  // namespace

nlohmann::json TraceEventJson(const std::vector<BootTrace> &Boots, const std::string &Machine) {
  nlohmann::json Events = nlohmann::json::array();
  for (size_t Number = 1; Number <= Boots.size(); Number++) {
    const BootTrace &Boot = Boots[Number - 1];
    Events.push_back(Metadata("process_name", Number, 0, {{"name", Boot.Title + " (machine " + Machine + ")"}}));
    Events.push_back(Metadata("process_sort_index", Number, 0, {{"sort_index", Number}}));
    for (const TraceTrack &Track : Boot.Tracks) {
      Events.push_back(Metadata("thread_name", Number, Track.Processor, {{"name", Track.Name}}));
      Events.push_back(Metadata("thread_sort_index", Number, Track.Processor, {{"sort_index", Track.Processor}}));
      for (const TraceSlice &Slice : Track.Slices) {
        const double Begin = Microseconds(Slice.Begin);
        Events.push_back({{"ph", "X"},
                          {"name", Slice.Name},
                          {"cat", Slice.Category},
                          {"pid", Number},
                          {"tid", Track.Processor},
                          {"ts", Begin},
                          {"dur", Microseconds(Slice.End()) - Begin},
                          {"args", SliceArgs(Slice)}});
      }
    }
  }
  return {{"traceEvents", Events},
          {"displayTimeUnit", "ns"},
          {"otherData", {{"machine", Machine}, {"time", "estimated time on hardware by the cost model"}}}};
}

}  // namespace ccxsim
