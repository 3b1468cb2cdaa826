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

// What one table builder got from the driver: whether it found the service, the status of each
// service call it made (by the call's name), and what its checks found wrong with the answers.
struct ConsumerOutcome {
  bool ServiceFound = false;
  std::map<std::string, uint64_t> Statuses;
  std::vector<std::string> Errors;
  // A fatal stop was raised while the builder called its service: the driver reported the failure
  // the way it reports a missing sibling, and answered with its fallback values.
  bool RaisedFatalStop = false;
  // The calls that answered an error.
  std::vector<std::string> FailedCalls() const;
};

// A boot with the consumers' table builders run after it, and what they got, by builder.
struct SweepBoot {
  BootRecord Record;
  std::vector<ScheduledFault> Fired;
  std::map<std::string, ConsumerOutcome> Consumers;
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
// The calls of every builder that answered an error in the faulted boot but not in the clean one,
// as "builder: call".
std::vector<std::string> NewlyFailedCalls(const SweepBoot &Baseline, const SweepBoot &Faulted);
// The SMRAM calls of the SMM core's phase that answered an error in the faulted boot but not in
// the clean one.
std::vector<std::string> NewlyFailedSmramCalls(const BootRecord &Clean, const BootRecord &Faulted);
// The warning and error lines of the debug output (of a driver built with it) that the clean boot
// did not print.
std::vector<std::string> NewDebugWarnings(const BootRecord &Clean, const BootRecord &Faulted);

// What is wrong with a faulted boot, one sentence each; empty when it holds up. Besides the checks
// that hold whatever failed, a failure must be reported where it has an effect: a consumer whose
// checks find the answers wrong must have been told so by an error of the service it called, and
// processors that hold other MSR values than in the clean boot must come with a reported failure
// (a fatal stop, an error of the entry, a service or an SMRAM call, a protocol left out, a warning
// in the debug output of a driver built with it).
std::vector<std::string> CheckFaultedBoot(const SweepBoot &Baseline, const SweepBoot &Faulted, const FaultPoint &Point);

// The kind of outcome for the tally: "absorbed" (the boot looks like the clean one), "fatal stop
// 0x...", "entry status 0x...", "fewer protocols installed", "service reports failure (<call>)",
// "SMRAM call reports failure (<call>)", "<builder> finds no service", "debug output: <line>",
// "fewer heap buffers",
// "reset", "halted"; and the kinds CheckFaultedBoot refuses: "consumer checks fail without a
// reported failure", "MSRs differ without a reported failure".
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
