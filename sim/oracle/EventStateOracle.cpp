// The driver's events still armed once the boot is over, and the down-core variable it keeps.
#include <algorithm>
#include <map>

#include "sim/oracle/AnswerCheck.h"
#include "sim/oracle/MachineStateOracle.h"

namespace sim {
namespace {

// The driver's notify functions, and what each armed event waits for (a protocol or a group).
constexpr const char *kDriverNotifies[] = {"CcxOcTriggerHandler", "CcxRellOcCallback", "CcxReadyToBoot",
                                           "CcxDownCoreNotify", "CcxRellInitWithMpServices"};
constexpr const char *kDownCoreVariable = "DownCoreStatus gQorvexDownCoreStatusVariableGuid";

std::string Waits(const ArmedEvent &Event) {
  std::string Text = Event.Notify;
  for (const std::string &Protocol : Event.WaitsFor) Text += " waiting for " + Protocol;
  if (!Event.Group.empty()) Text += " in group " + Event.Group;
  return Text;
}

// What the initialization leaves armed: the overclocking trigger's notify, which never closes;
// the notify of MP services or of variable writes when they were not there at the entry (MP
// services' stays, the variable writes' closes once it ran); the overclocking callback when the
// trigger came before MP services; ready-to-boot's, which closes only where the SMM control
// protocol was there to raise its SMI.
std::map<std::string, size_t> ExpectedEvents(const Machine &Description, const BootRecord &Boot) {
  std::map<std::string, size_t> Events;
  if (!InitializationRuns(Description)) return Events;
  auto Expect = [&Events](const std::string &Text) { Events[Text]++; };
  Expect("CcxOcTriggerHandler waiting for gQorvexCcxOcTriggerProtocolGuid");
  if (!Description.SiblingAtStart("mp_services")) {
    Expect("CcxRellInitWithMpServices waiting for gEfiMpServiceProtocolGuid");
  }
  if (!Description.SiblingAtStart("variable_write") && !Description.SiblingExists("variable_write")) {
    Expect("CcxDownCoreNotify waiting for gEfiVariableWriteArchProtocolGuid");
  }
  // A trigger there from the start never signals the notify registered for it.
  const size_t Trigger = StepOf(Boot, "arrival of oc_trigger");
  if (!Description.SiblingAtStart("oc_trigger") && Trigger != SIZE_MAX &&
      !SiblingThereAt(Description, Boot, "mp_services", Trigger + 1)) {
    Expect("CcxRellOcCallback waiting for gEfiMpServiceProtocolGuid");
  }
  if (!SiblingThereAt(Description, Boot, "smm_control", StepOf(Boot, "ready_to_boot") + 1)) {
    Expect("CcxReadyToBoot in group gEfiEventReadyToBootGuid");
  }
  return Events;
}

}  // namespace

void CheckEventsAndVariables(Platform &Machine, const BootRecord &Boot, std::vector<std::string> &Errors) {
  AnswerCheck Check("machine state", Errors);
  const sim::Machine &Description = Machine.Description();
  std::map<std::string, size_t> Armed;
  for (const ArmedEvent &Event : Boot.Armed) {
    // Names come from the program's exported symbols; without them the events can't be told apart.
    if (Event.Notify.rfind("0x", 0) == 0) {
      Check.Problem("event " + Waits(Event), "its notify function has no name here (export the program's symbols)");
      continue;
    }
    const bool Driver = std::find(std::begin(kDriverNotifies), std::end(kDriverNotifies), Event.Notify) !=
                        std::end(kDriverNotifies);
    if (Driver) Armed[Waits(Event)]++;
  }
  std::map<std::string, size_t> Expected = ExpectedEvents(Description, Boot);
  for (const auto &[Text, Count] : Armed) Expected.try_emplace(Text, 0);
  for (const auto &[Text, Count] : Expected) {
    const auto It = Armed.find(Text);
    Check.Field("event " + Text, "instances left armed", Count, It == Armed.end() ? 0 : It->second);
  }

  // The down-core check, once variable writes are there, leaves the variable holding whether
  // this boot is down-cored.
  if (!InitializationRuns(Description) || !Description.SiblingExists("variable_write")) return;
  const uint8_t Current = IsDownCored(Description) ? 1 : 0;
  const auto Variable = std::find_if(Boot.Variables.begin(), Boot.Variables.end(),
                                     [](const auto &Entry) { return Entry.first == kDownCoreVariable; });
  if (Variable == Boot.Variables.end()) {
    Check.Problem("variable DownCoreStatus", "missing");
  } else if (Variable->second.size() != 1) {
    Check.Field("variable DownCoreStatus", "size", 1, Variable->second.size());
  } else {
    Check.Field("variable DownCoreStatus", "value", Current, Variable->second[0]);
  }
}

}  // namespace sim
