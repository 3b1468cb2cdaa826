// Boots the driver once per fault point: the k-th call of one firmware service or sibling query
// fails, every other call works. A clean boot first counts the points; each faulted boot is then
// checked for what must hold whatever failed, and its outcome is sorted into a kind for the
// sweep's tally.
#ifndef TESTS_SIM_RELIABILITY_FAULT_SWEEP_H_
#define TESTS_SIM_RELIABILITY_FAULT_SWEEP_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "driver/ImageDescriptor.h"
#include "sim/machine/Machine.h"
#include "sim/platform/BootRunner.h"
#include "sim/platform/FaultSchedule.h"

namespace sim {

// One point of the sweep: a firmware-service call (Schedule) or a sibling query (Sibling).
struct FaultPoint {
  bool IsSibling = false;
  ScheduledFault Schedule;
  InjectedFault Sibling;

  std::string Describe() const;
};

// A boot with the consumers' table builders run after it, and what they reported.
struct SweepBoot {
  BootRecord Record;
  std::vector<ScheduledFault> Fired;
  std::vector<std::string> ConsumerErrors;
  uint64_t SiblingFaultsFired = 0;
};

// The clean boot, and the points it offers, in call order per site: every page and pool
// allocation, variable write, MP services start and protocol location; of sibling queries the
// first 8 calls of each query, every sixteenth after them and the last, or every call when the
// environment sets CCX_FULL_SWEEP.
struct SweepBaseline {
  SweepBoot Boot;
  std::vector<FaultPoint> Points;
};

// Boots the sweep's driver through Loader (the delivered image) instead of the image descriptor's
// host copy; null goes back to the host copy.
void SweepWithLoader(DriverLoader *Loader);

SweepBaseline CountFaultPoints(const Machine &Description, const CCX_DRIVER_IMAGE &Image);
SweepBoot BootWithFault(const Machine &Description, const CCX_DRIVER_IMAGE &Image, const FaultPoint &Point);

// The fatal stops a faulted boot showed beyond those of the clean boot, in the order shown.
std::vector<uint32_t> NewFatalStops(const BootRecord &Clean, const BootRecord &Faulted);

// A failed count query of the fabric topology service, which the topology walk takes for its
// normal end: the services then answer for the processors met before it.
bool CountQueryCutsTheWalk(const FaultPoint &Point);

// What is wrong with a faulted boot, one sentence each; empty when it holds up.
std::vector<std::string> CheckFaultedBoot(const SweepBoot &Baseline, const SweepBoot &Faulted, const FaultPoint &Point);

// The kind of outcome for the tally: "absorbed" (the boot looks like the clean one), "fatal stop
// 0x...", "entry status 0x...", "service status changed", "reset", "halted".
std::string OutcomeKind(const SweepBoot &Baseline, const SweepBoot &Faulted);

// Boots with the fault in a child process, so that a crash is one finding among the others
// rather than the end of the sweep, and judges it: the problems found and the outcome kind
// ("crashed (signal N)" when the child died, "hung" when its boot did not end within minutes).
struct SweepVerdict {
  std::vector<std::string> Problems;
  std::string Kind;
};
SweepVerdict JudgeFaultPoint(const SweepBoot &Baseline, const Machine &Description, const CCX_DRIVER_IMAGE &Image,
                             const FaultPoint &Point);

}  // namespace sim

#endif  // TESTS_SIM_RELIABILITY_FAULT_SWEEP_H_
