// The boot-time estimate: one latency per kind of hardware access, read from a data file that a
// user can edit (data/latencies.json, compiled in as the default), and the arithmetic that turns
// a phase's access counts into the time the phase would take on real hardware.
#ifndef SIM_PLATFORM_COST_MODEL_H_
#define SIM_PLATFORM_COST_MODEL_H_

#include <array>
#include <string>

#include "sim/platform/AccessCounters.h"

namespace sim {

struct CostModel {
  // Nanoseconds per access; per byte for BytesFilled and BytesCopied.
  std::array<double, kCountedAccessKinds> Nanoseconds{};
  // Where the figures came from: a file path or "built-in".
  std::string Source;

  double Of(CountedAccess Kind) const { return Nanoseconds[static_cast<size_t>(Kind)]; }
};

// Reads a cost model strictly: every kind must be given, as a non-negative number, and nothing
// else may be there. Throws MachineError naming the source and the field on any fault.
CostModel ParseCostModel(const std::string &Text, const std::string &Source);
CostModel LoadCostModelFile(const std::string &Path);
// The model of data/latencies.json as it was when the simulator was built.
const CostModel &DefaultCostModel();

// The estimated time of one phase, in nanoseconds, and how much of it each kind accounts for.
struct PhaseEstimate {
  std::string Name;
  double Total = 0;
  std::array<double, kCountedAccessKinds> ByKind{};
};

// Work on the BSP adds up. AP procedures run in parallel, so what the APs did in the phase is
// divided by the average number of procedures one start ran (the starts' own latency stays on
// the BSP): a phase with one start over 127 APs costs one AP's share of the AP-side work.
PhaseEstimate EstimatePhase(const CostModel &Model, const AccessPhase &Phase);
// The procedures of a phase that ran side by side per start: what its AP-side work is divided by.
double ApOverlap(const AccessCounts &Counts);
// The time of a part of a phase (a notify function, one call), with the APs overlapping as they did
// over the whole phase: EstimatePhase is this with the phase's own overlap, so the parts of a phase
// add up to its estimate.
double EstimateShare(const CostModel &Model, const AccessCounts &Counts, double Overlap);

}  // namespace sim

#endif  // SIM_PLATFORM_COST_MODEL_H_
