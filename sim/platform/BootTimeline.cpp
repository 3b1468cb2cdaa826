#include "sim/platform/BootTimeline.h"

#include <map>

#include "sim/platform/Platform.h"

namespace sim {
namespace {

// The procedure the calling AP thread is running, while it runs.
thread_local TimelineProcedure *tRunning = nullptr;

}  // namespace

void BootTimeline::Attach(Platform &Machine) {
  Counters_ = &Machine.Hardware().Accounting();
  Counters_->OnEnter([this](const std::string &Name, const AccessCounts &Now) {
    Mark(TimelineMark::Phase, "", Name, nullptr, Now);
  });
  Machine.Core().Events().SetNotifyListener([this](EFI_EVENT_NOTIFY Notify, bool Begins) {
    Mark(Begins ? TimelineMark::Begin : TimelineMark::End, "notify", "", reinterpret_cast<const void *>(Notify),
         Counters_->Totals());
  });
  Machine.Mp().SetObserver(this);
}

void BootTimeline::Mark(TimelineMark::Kind What, const std::string &Category, const std::string &Name,
                        const void *Function, const AccessCounts &At) {
  std::lock_guard<std::mutex> Guard(Lock_);
  Record_.Marks.push_back({What, Category, Name, At, Function});
}

void BootTimeline::StartBegins(const char *Operation, EFI_AP_PROCEDURE Procedure) {
  const AccessCounts Now = Counters_->Totals();
  std::lock_guard<std::mutex> Guard(Lock_);
  OpenStart_ = Record_.Marks.size();
  Record_.Marks.push_back({TimelineMark::Begin, "mp", Operation, Now, reinterpret_cast<const void *>(Procedure)});
}

void BootTimeline::StartEnds() { Mark(TimelineMark::End, "mp", "", nullptr, Counters_->Totals()); }

void BootTimeline::ProcedureBegins(size_t Processor, EFI_AP_PROCEDURE Procedure) {
  {
    std::lock_guard<std::mutex> Guard(Lock_);
    Procedures_.push_back({Processor, "", OpenStart_, {}, false, reinterpret_cast<const void *>(Procedure)});
    tRunning = &Procedures_.back();
  }
  AccessCounters::OpenThreadTally(&tRunning->Counts);
}

void BootTimeline::ProcedureEnds(size_t) {
  AccessCounters::OpenThreadTally(nullptr);
  std::lock_guard<std::mutex> Guard(Lock_);
  // The run itself, as the totals count it once the procedure has returned.
  tRunning->Counts.Ap[static_cast<size_t>(CountedAccess::ApProcedure)] += 1;
  tRunning->Ended = true;
  tRunning = nullptr;
}

void BootTimeline::Finish(const AccessCounts &Final, const std::function<std::string(const void *)> &Name) {
  std::lock_guard<std::mutex> Guard(Lock_);
  // Symbol look-ups are slow; a procedure that ran on every AP is named once.
  std::map<const void *, std::string> Names;
  auto NameOf = [&](const void *Function) -> const std::string & {
    auto [It, New] = Names.emplace(Function, "");
    if (New) It->second = Name(Function);
    return It->second;
  };
  for (TimelineMark &Each : Record_.Marks) {
    if (Each.What != TimelineMark::Begin) continue;
    Each.Name = Each.Category == "mp" ? Each.Name + "(" + NameOf(Each.Function) + ")" : NameOf(Each.Function);
  }
  Record_.Procedures.assign(Procedures_.begin(), Procedures_.end());
  for (TimelineProcedure &Each : Record_.Procedures) Each.Name = NameOf(Each.Function);
  Record_.Final = Final;
}

}  // namespace sim
