#include "sim/uefi/EventSystem.h"

#include <algorithm>

#include "sim/uefi/Guid.h"

namespace sim {

const EFI_GUID kExitBootServicesEventGroup = {
    0x27abf055, 0xb1b8, 0x4c26, {0x80, 0x48, 0x74, 0x8f, 0x37, 0xba, 0xa2, 0xdf}};
const EFI_GUID kVirtualAddressChangeEventGroup = {
    0x13fa7698, 0xc831, 0x49c7, {0x87, 0xea, 0x8f, 0x43, 0xfc, 0xc2, 0x51, 0x96}};

namespace {

constexpr uint32_t kOrdinaryTypeBits = EVT_TIMER | EVT_RUNTIME | EVT_NOTIFY_WAIT | EVT_NOTIFY_SIGNAL;

}  // namespace

EventSystem::EventSystem(Diagnostics diagnostics) : diagnostics_(std::move(diagnostics)) {}

EFI_STATUS EventSystem::Create(uint32_t type, EFI_TPL notifyTpl, EFI_EVENT_NOTIFY notify, const void *context,
                               const EFI_GUID *group, EFI_EVENT *event) {
  if (event == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::optional<EFI_GUID> joined;
  if (type == EVT_SIGNAL_EXIT_BOOT_SERVICES || type == EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE) {
    // These two types name their group themselves; a second group on top is contradictory.
    if (group != nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    joined = type == EVT_SIGNAL_EXIT_BOOT_SERVICES ? kExitBootServicesEventGroup : kVirtualAddressChangeEventGroup;
  } else if ((type & ~kOrdinaryTypeBits) != 0) {
    return EFI_INVALID_PARAMETER;
  } else if (group != nullptr) {
    joined = *group;
  }
  if ((type & EVT_NOTIFY_WAIT) != 0 && (type & EVT_NOTIFY_SIGNAL) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if ((type & (EVT_NOTIFY_WAIT | EVT_NOTIFY_SIGNAL)) != 0) {
    // A notification at TPL_APPLICATION could never run: nothing restores the TPL below it.
    if (notify == nullptr || notifyTpl <= TPL_APPLICATION || notifyTpl > TPL_HIGH_LEVEL) {
      return EFI_INVALID_PARAMETER;
    }
  }
  EFI_EVENT handle = tokens_.Next();
  const uint64_t serial = nextSerial_++;
  records_.emplace(handle, Record{serial, type, notifyTpl, notify, context, joined});
  creationOrder_.emplace(serial, handle);
  *event = handle;
  return EFI_SUCCESS;
}

EFI_STATUS EventSystem::Signal(EFI_EVENT event) {
  auto it = records_.find(event);
  if (it == records_.end()) {
    return EFI_INVALID_PARAMETER;
  }
  if (it->second.group) {
    SignalGroup(*it->second.group);
    return EFI_SUCCESS;
  }
  MarkSignaled(event, it->second);
  DispatchDownTo(current_);
  return EFI_SUCCESS;
}

void EventSystem::SignalGroup(const EFI_GUID &group) {
  for (EFI_EVENT member : GroupMembers(group)) {
    MarkSignaled(member, records_.at(member));
  }
  DispatchDownTo(current_);
}

EFI_STATUS EventSystem::Close(EFI_EVENT event) {
  auto it = records_.find(event);
  if (it == records_.end()) {
    return EFI_INVALID_PARAMETER;
  }
  // A pending notification of a closed event must never run: its context may be gone already.
  if (it->second.queued) {
    auto &queue = queues_[it->second.tpl];
    queue.erase(std::find(queue.begin(), queue.end(), event));
  }
  creationOrder_.erase(it->second.serial);
  records_.erase(it);
  if (closeListener_) {
    closeListener_(event);
  }
  return EFI_SUCCESS;
}

EFI_STATUS EventSystem::Check(EFI_EVENT event) {
  auto it = records_.find(event);
  if (it == records_.end() || (it->second.type & EVT_NOTIFY_SIGNAL) != 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (!it->second.signaled && (it->second.type & EVT_NOTIFY_WAIT) != 0) {
    // A wait event's notification is how it finds out whether it should become signaled.
    Queue(event, it->second);
    DispatchDownTo(current_);
    it = records_.find(event);
    if (it == records_.end()) {
      return EFI_NOT_READY;
    }
  }
  if (!it->second.signaled) {
    return EFI_NOT_READY;
  }
  it->second.signaled = false;
  return EFI_SUCCESS;
}

EFI_STATUS EventSystem::Wait(UINTN count, EFI_EVENT *events, UINTN *index) {
  if (count == 0 || events == nullptr || index == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (current_ != TPL_APPLICATION) {
    return EFI_UNSUPPORTED;
  }
  for (UINTN position = 0; position < count; position++) {
    EFI_STATUS status = Check(events[position]);
    if (status != EFI_NOT_READY) {
      *index = position;
      return status;
    }
  }
  // Without timers nothing outside the caller can signal these events while it waits, so real
  // firmware would hang here; the simulation says so and returns instead.
  diagnostics_("WaitForEvent on " + std::to_string(count) +
               " event(s) that are not signaled would wait forever: no timer or interrupt exists to signal them");
  return EFI_UNSUPPORTED;
}

EFI_STATUS EventSystem::SetTimer(EFI_EVENT event) {
  auto it = records_.find(event);
  if (it == records_.end() || (it->second.type & EVT_TIMER) == 0) {
    return EFI_INVALID_PARAMETER;
  }
  return EFI_UNSUPPORTED;
}

EFI_TPL EventSystem::Raise(EFI_TPL newTpl) {
  const EFI_TPL old = current_;
  if (newTpl < current_ || newTpl > TPL_HIGH_LEVEL) {
    diagnostics_("RaiseTPL(" + std::to_string(newTpl) + ") at TPL " + std::to_string(current_) +
                 " would lower the TPL or leave the valid range; the TPL stays " + std::to_string(current_));
    return old;
  }
  current_ = newTpl;
  return old;
}

void EventSystem::Restore(EFI_TPL oldTpl) {
  if (oldTpl > current_ || oldTpl < TPL_APPLICATION) {
    diagnostics_("RestoreTPL(" + std::to_string(oldTpl) + ") at TPL " + std::to_string(current_) +
                 " would raise the TPL or go below TPL_APPLICATION; the TPL stays " + std::to_string(current_));
    return;
  }
  DispatchDownTo(oldTpl);
}

std::vector<EventInfo> EventSystem::OpenEvents() const {
  std::vector<EventInfo> events;
  for (const auto &[serial, handle] : creationOrder_) {
    const Record &record = records_.at(handle);
    events.push_back(
        EventInfo{handle, record.type, record.tpl, record.notify, record.context, record.group, record.signaled});
  }
  return events;
}

EventSystem::Section::Section(EventSystem &events) : events_(events), saved_(events.current_) {
  if (events_.current_ < TPL_NOTIFY) {
    events_.current_ = TPL_NOTIFY;
  }
}

EventSystem::Section::~Section() {
  try {
    events_.DispatchDownTo(saved_);
  } catch (...) {
    // Only a diagnostic message can fail here; the TPL must come down all the same.
    events_.current_ = saved_;
  }
}

void EventSystem::MarkSignaled(EFI_EVENT event, Record &record) {
  if (record.signaled) {
    return;
  }
  record.signaled = true;
  if ((record.type & EVT_NOTIFY_SIGNAL) != 0) {
    Queue(event, record);
  }
}

void EventSystem::Queue(EFI_EVENT event, Record &record) {
  if (!record.queued) {
    record.queued = true;
    queues_[record.tpl].push_back(event);
  }
}

void EventSystem::DispatchDownTo(EFI_TPL floor) {
  for (EFI_TPL level = TPL_HIGH_LEVEL; level > floor; level--) {
    if (queues_[level].empty()) {
      continue;
    }
    current_ = level;
    while (!queues_[level].empty()) {
      EFI_EVENT event = queues_[level].front();
      queues_[level].erase(queues_[level].begin());
      Record &record = records_.at(event);
      record.queued = false;
      // A signal notification consumes the signal, so the event can be signaled again from
      // inside its own notify function and run once more.
      if ((record.type & EVT_NOTIFY_SIGNAL) != 0) {
        record.signaled = false;
      }
      const EFI_EVENT_NOTIFY notify = record.notify;
      void *context = const_cast<void *>(record.context);
      // The record may be gone once the function returns (CloseEvent from inside), so nothing
      // of it is touched afterwards.
      if (notifyListener_) notifyListener_(notify, true);
      notify(event, context);
      if (notifyListener_) notifyListener_(notify, false);
      if (current_ != level) {
        diagnostics_("notify function " + Hex(reinterpret_cast<uint64_t>(notify)) + " returned at TPL " +
                     std::to_string(current_) + " instead of its own TPL " + std::to_string(level));
        current_ = level;
      }
      // A notification may have queued work above this level that could not run inside it yet;
      // the outer loop restarts from the top so that it runs before the rest of this level.
      if (std::any_of(queues_.begin() + level + 1, queues_.end(), [](const auto &queue) { return !queue.empty(); })) {
        level = TPL_HIGH_LEVEL + 1;
        break;
      }
    }
  }
  current_ = floor;
}

std::vector<EFI_EVENT> EventSystem::GroupMembers(const EFI_GUID &group) const {
  std::vector<EFI_EVENT> members;
  for (const auto &[serial, handle] : creationOrder_) {
    const Record &record = records_.at(handle);
    if (record.group && SameGuid(*record.group, group)) {
      members.push_back(handle);
    }
  }
  return members;
}

}  // namespace sim
