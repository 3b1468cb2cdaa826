// The record of one boot's timeline, taken only when a run asks for it: every phase opened, every
// notify function and MP services start on the BSP with the access totals at its edges, and every
// AP procedure with the accesses of its own AP. The tools turn it into estimated time on hardware.
#ifndef SIM_PLATFORM_BOOT_TIMELINE_H_
#define SIM_PLATFORM_BOOT_TIMELINE_H_

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sim/cpu/MpServices.h"
#include "sim/platform/AccessCounters.h"

namespace sim {

class Platform;

struct TimelineMark {
  enum Kind { Phase, Begin, End };
  Kind What = Phase;
  // Begin: "notify" for a notify function, "mp" for an MP services start.
  std::string Category;
  // The phase's name; the notify function's; "StartupAllAPs(Procedure)" for a start.
  std::string Name;
  // The access totals at that moment.
  AccessCounts At;
  // Named when the record is finished: the notify function or the started procedure.
  const void *Function = nullptr;
};

struct TimelineProcedure {
  size_t Processor = 0;
  std::string Name;
  // The index in Marks of the Begin of the start that ran it.
  size_t Start = 0;
  // What this AP did while the procedure ran, the procedure's own run included.
  AccessCounts Counts;
  // False when the boot ended inside the procedure.
  bool Ended = false;
  const void *Function = nullptr;
};

struct TimelineRecord {
  std::vector<TimelineMark> Marks;
  std::vector<TimelineProcedure> Procedures;
  // The totals when the boot's record was collected: the end of the last phase.
  AccessCounts Final;
};

class BootTimeline final : public MpObserver {
 public:
  BootTimeline() = default;
  BootTimeline(const BootTimeline &) = delete;
  BootTimeline &operator=(const BootTimeline &) = delete;

  // Starts recording the boot about to run on Machine.
  void Attach(Platform &Machine);
  // Ends the record when the boot's own record is collected; Name names a function by address.
  void Finish(const AccessCounts &Final, const std::function<std::string(const void *)> &Name);
  // The record, complete once Finish has run.
  const TimelineRecord &Record() const { return Record_; }

  void StartBegins(const char *Operation, EFI_AP_PROCEDURE Procedure) override;
  void StartEnds() override;
  void ProcedureBegins(size_t Processor, EFI_AP_PROCEDURE Procedure) override;
  void ProcedureEnds(size_t Processor) override;

 private:
  void Mark(TimelineMark::Kind What, const std::string &Category, const std::string &Name, const void *Function,
            const AccessCounts &At);

  AccessCounters *Counters_ = nullptr;
  // AP threads add procedures while the BSP waits in the start; the lock also covers the marks.
  std::mutex Lock_;
  TimelineRecord Record_;
  // Each procedure's tally stays where it is while later ones are added.
  std::deque<TimelineProcedure> Procedures_;
  size_t OpenStart_ = 0;
};

}  // namespace sim

#endif  // SIM_PLATFORM_BOOT_TIMELINE_H_
