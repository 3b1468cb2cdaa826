#include "tools/BootExpectation.h"

#include <algorithm>

#include "sim/HexText.h"
#include "tools/Report.h"

namespace ccxsim {
namespace {

std::string EntryText(const std::optional<uint64_t> &Status) {
  return Status ? StatusName(*Status) : std::string("none (the entry did not return)");
}

std::string StopsText(const std::vector<uint32_t> &Stops) {
  if (Stops.empty()) return "none";
  std::string Text;
  for (uint32_t Code : Stops) Text += (Text.empty() ? "" : " ") + sim::Hex(Code, 8);
  return Text;
}

std::string NamesText(const std::vector<std::string> &Names) {
  if (Names.empty()) return "none";
  std::string Text;
  for (const std::string &Name : Names) Text += (Text.empty() ? "" : " ") + Name;
  return Text;
}

// The injected faults that fired with an error status, each query once, sorted.
std::vector<std::string> SiblingFailures(const sim::BootRecord &Boot) {
  std::vector<std::string> Names;
  for (const sim::FaultOutcome &Outcome : Boot.SiblingFaults) {
    if (Outcome.Fired != 0 && (Outcome.Fault.Status >> 63) != 0) {
      Names.push_back(Outcome.Fault.Service + "." + Outcome.Fault.Query);
    }
  }
  std::sort(Names.begin(), Names.end());
  Names.erase(std::unique(Names.begin(), Names.end()), Names.end());
  return Names;
}

}  // namespace

std::vector<UnmetExpectation> CheckExpectation(const sim::BootExpectation &Expect, const sim::BootRecord &Boot) {
  std::vector<UnmetExpectation> Unmet;
  const bool ShouldEnd = Expect.RanToItsEnd.value_or(true);
  const bool Ended = RanToItsEnd(Boot);
  if (ShouldEnd != Ended) {
    Unmet.push_back({"ran_to_its_end", ShouldEnd ? "true" : "false",
                     std::string(Ended ? "true" : "false") + " (" + BootEndText(Boot.End) + ")", ShouldEnd});
  }
  // A boot expected to stop early need not say how far its entry came.
  if (Expect.EntryStatus || ShouldEnd) {
    const std::optional<uint64_t> Wanted = Expect.EntryStatus.value_or(std::optional<uint64_t>(0));
    if (Wanted != Boot.EntryStatus) Unmet.push_back({"entry_status", EntryText(Wanted), EntryText(Boot.EntryStatus)});
  }
  const std::vector<uint32_t> Stops = Expect.FatalStops.value_or(std::vector<uint32_t>{});
  if (Stops != Boot.FatalStops) Unmet.push_back({"fatal_stops", StopsText(Stops), StopsText(Boot.FatalStops)});
  if (Expect.SiblingFailures) {
    std::vector<std::string> Wanted = *Expect.SiblingFailures;
    std::sort(Wanted.begin(), Wanted.end());
    Wanted.erase(std::unique(Wanted.begin(), Wanted.end()), Wanted.end());
    const std::vector<std::string> Shown = SiblingFailures(Boot);
    if (Wanted != Shown) Unmet.push_back({"sibling_failures", NamesText(Wanted), NamesText(Shown)});
  }
  return Unmet;
}

void PrintExpectation(std::ostream &Out, const std::vector<UnmetExpectation> &Unmet) {
  Out << "\nexpected: " << (Unmet.empty() ? "shown" : "NOT shown") << "\n";
  for (const UnmetExpectation &Field : Unmet) {
    Out << "  " << Field.Field << ": expected " << Field.Expected << ", shown " << Field.Shown << "\n";
  }
}

nlohmann::json ExpectationJson(const std::vector<UnmetExpectation> &Unmet) {
  nlohmann::json Json;
  Json["shown"] = Unmet.empty();
  Json["unmet"] = nlohmann::json::array();
  for (const UnmetExpectation &Field : Unmet) {
    Json["unmet"].push_back({{"field", Field.Field}, {"expected", Field.Expected}, {"shown", Field.Shown}});
  }
  return Json;
}

void RunVerdict::CouldNotRun(uint64_t Boot, const std::string &Error) {
  Note(kExitDidNotRun, "boot " + std::to_string(Boot) + " could not run: " + Error);
}

void RunVerdict::LostVariables(uint64_t Boot, const std::string &Error) {
  Note(kExitDidNotRun, "boot " + std::to_string(Boot) + " could not keep a variable: " + Error);
}

void RunVerdict::Checked(uint64_t Boot, const std::vector<UnmetExpectation> &Unmet, bool AnswersDiffer) {
  const std::string Name = "boot " + std::to_string(Boot);
  for (const UnmetExpectation &Field : Unmet) {
    const std::string Detail = Field.Field + ": expected " + Field.Expected + ", shown " + Field.Shown;
    if (Field.DidNotEnd) {
      Note(kExitDidNotRun, Name + " did not run to its end: " + Detail);
    } else {
      Note(kExitNotAsExpected, Name + " did not show what was expected: " + Detail);
    }
  }
  if (AnswersDiffer)
    Note(kExitAnswersDiffer, Name + ": the driver's answers differ from the machine (see the ERROR lines)");
}

void RunVerdict::Note(int Status, const std::string &Why) {
  // Usage errors (2) never reach a verdict; among the rest a higher status is the more serious.
  if (Status <= Status_) return;
  Status_ = Status;
  Why_ = Why;
}

bool ShowsErrors(const std::string &Report) {
  for (size_t Start = 0; Start < Report.size();) {
    const size_t End = std::min(Report.find('\n', Start), Report.size());
    const size_t Text = Report.find_first_not_of(' ', Start);
    if (Text < End && Report.compare(Text, 6, "ERROR:") == 0) return true;
    Start = End + 1;
  }
  return false;
}

}  // namespace ccxsim
