// Events and task priority levels: CreateEvent(Ex) with event groups, SignalEvent, CloseEvent,
// CheckEvent, WaitForEvent, and RaiseTPL/RestoreTPL with the notify queues that run each
// notification at its own TPL.
#ifndef SIM_UEFI_EVENT_SYSTEM_H_
#define SIM_UEFI_EVENT_SYSTEM_H_

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

#include "sim/uefi/Diagnostics.h"
#include "sim/uefi/TokenArena.h"
#include "uefi/SystemTable.h"

namespace sim {

// The groups that the two special event types of CreateEvent join.
extern const EFI_GUID kExitBootServicesEventGroup;
extern const EFI_GUID kVirtualAddressChangeEventGroup;

struct EventInfo {
  EFI_EVENT event;
  uint32_t type;
  EFI_TPL tpl;
  EFI_EVENT_NOTIFY notify;
  const void *context;
  std::optional<EFI_GUID> group;
  bool signaled;
};

class EventSystem {
 public:
  explicit EventSystem(Diagnostics diagnostics);
  EventSystem(const EventSystem &) = delete;
  EventSystem &operator=(const EventSystem &) = delete;

  // CreateEvent is CreateEventEx with no group.
  EFI_STATUS Create(uint32_t type, EFI_TPL notifyTpl, EFI_EVENT_NOTIFY notify, const void *context,
                    const EFI_GUID *group, EFI_EVENT *event);
  EFI_STATUS Signal(EFI_EVENT event);
  // Signals every member of the group, as SignalEvent on one member would.
  void SignalGroup(const EFI_GUID &group);
  EFI_STATUS Close(EFI_EVENT event);
  EFI_STATUS Check(EFI_EVENT event);
  EFI_STATUS Wait(UINTN count, EFI_EVENT *events, UINTN *index);
  EFI_STATUS SetTimer(EFI_EVENT event);

  EFI_TPL Raise(EFI_TPL newTpl);
  void Restore(EFI_TPL oldTpl);
  EFI_TPL CurrentTpl() const { return current_; }

  bool IsEvent(EFI_EVENT event) const { return records_.count(event) != 0; }
  // Open events in creation order.
  std::vector<EventInfo> OpenEvents() const;
  // Called for every event that closes, so that protocol notify registrations can follow it.
  void SetCloseListener(std::function<void(EFI_EVENT)> listener) { closeListener_ = std::move(listener); }
  // Told just before a notify function runs (begins true) and after it returns, for a boot's timeline.
  void SetNotifyListener(std::function<void(EFI_EVENT_NOTIFY, bool begins)> listener) {
    notifyListener_ = std::move(listener);
  }

  // Holds the TPL at TPL_NOTIFY or above while the protocol database changes, as the database
  // lock of firmware does: notifications that a change signals run after the whole change, with
  // the database consistent, when the section ends.
  class Section {
   public:
    explicit Section(EventSystem &events);
    ~Section();
    Section(const Section &) = delete;
    Section &operator=(const Section &) = delete;

   private:
    EventSystem &events_;
    EFI_TPL saved_;
  };

 private:
  struct Record {
    uint64_t serial;
    uint32_t type;
    EFI_TPL tpl;
    EFI_EVENT_NOTIFY notify;
    const void *context;
    std::optional<EFI_GUID> group;
    bool signaled = false;
    bool queued = false;
  };

  void MarkSignaled(EFI_EVENT event, Record &record);
  void Queue(EFI_EVENT event, Record &record);
  // Runs every queued notification above `floor`, highest TPL first, then leaves the TPL at floor.
  void DispatchDownTo(EFI_TPL floor);
  std::vector<EFI_EVENT> GroupMembers(const EFI_GUID &group) const;

  Diagnostics diagnostics_;
  TokenArena tokens_;
  std::unordered_map<EFI_EVENT, Record> records_;
  std::map<uint64_t, EFI_EVENT> creationOrder_;
  // Pending notifications per TPL, oldest first. A queue holds a few events, and an empty vector
  // allocates nothing: most of the 32 levels never queue one.
  std::array<std::vector<EFI_EVENT>, TPL_HIGH_LEVEL + 1> queues_;
  EFI_TPL current_ = TPL_APPLICATION;
  uint64_t nextSerial_ = 1;
  std::function<void(EFI_EVENT)> closeListener_;
  std::function<void(EFI_EVENT_NOTIFY, bool)> notifyListener_;
};

}  // namespace sim

#endif  // SIM_UEFI_EVENT_SYSTEM_H_
