#include "UefiTestSupport.h"

namespace sim::test {

namespace {

UefiCoreOptions OptionsCollectingInto(std::vector<std::string> &messages) {
  UefiCoreOptions options;
  options.dram = {DramRange{kDramBase, kDramSize}};
  options.diagnostics = [&messages](const std::string &message) { messages.push_back(message); };
  return options;
}

}  // namespace

VOID EFIAPI ProbeNotify(EFI_EVENT event, VOID *context) {
  auto *probe = static_cast<Probe *>(context);
  probe->runs++;
  // RaiseTPL hands back the level the notification runs at.
  probe->seenTpl = probe->boot->RaiseTPL(TPL_HIGH_LEVEL);
  probe->boot->RestoreTPL(probe->seenTpl);
  probe->log->push_back(probe->name);
  if (probe->action) {
    probe->action(event);
  }
}

EFI_EVENT UefiTest::CreateProbeEvent(EFI_TPL tpl, Probe &probe, const EFI_GUID *group) {
  EFI_EVENT event = nullptr;
  EXPECT_EQ(Boot().CreateEventEx(EVT_NOTIFY_SIGNAL, tpl, ProbeNotify, &probe, group, &event), EFI_SUCCESS);
  return event;
}

UefiTest::UefiTest() : core_(OptionsCollectingInto(messages_)), active_(core_.Activate()) {}

bool UefiTest::Reported(const std::string &text) const {
  for (const std::string &message : messages_) {
    if (message.find(text) != std::string::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace sim::test
