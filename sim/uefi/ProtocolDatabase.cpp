#include "sim/uefi/ProtocolDatabase.h"

#include <algorithm>
#include <utility>

namespace sim {

ProtocolDatabase::ProtocolDatabase(EventSystem &events, PoolAllocator &pool) : events_(events), pool_(pool) {}

EFI_STATUS ProtocolDatabase::Install(EFI_HANDLE *handle, const EFI_GUID *guid, void *interface) {
  if (handle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const ProtocolPair pair{guid, interface};
  if (EFI_STATUS status = CheckInstallable(*handle, {&pair, 1}); status != EFI_SUCCESS) {
    return status;
  }
  EventSystem::Section section(events_);
  if (*handle == nullptr) {
    handles_.push_back(HandleRecord{tokens_.Next(), {}});
    *handle = handles_.back().handle;
  }
  HandleRecord *record = FindHandle(*handle);
  record->interfaces.push_back(Interface{*guid, interface, nextSerial_++});
  const Interface added = record->interfaces.back();
  StableGuid(*guid);
  Announce(*handle, added);
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::InstallMultiple(EFI_HANDLE *handle, std::span<const ProtocolPair> pairs) {
  if (handle == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // Every pair is checked before the first is installed, so that a list that cannot go in as a
  // whole leaves no trace, not even a notification for an instance that is gone again.
  if (EFI_STATUS status = CheckInstallable(*handle, pairs); status != EFI_SUCCESS) {
    return status;
  }
  EventSystem::Section section(events_);
  const EFI_HANDLE original = *handle;
  for (size_t index = 0; index < pairs.size(); index++) {
    EFI_STATUS status = Install(handle, pairs[index].guid, pairs[index].interface);
    if (status != EFI_SUCCESS) {
      for (size_t undo = index; undo-- > 0;) {
        Uninstall(*handle, pairs[undo].guid, pairs[undo].interface);
      }
      *handle = original;
      return status;
    }
  }
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::Reinstall(EFI_HANDLE handle, const EFI_GUID *guid, void *oldInterface,
                                       void *newInterface) {
  HandleRecord *record = FindHandle(handle);
  if (guid == nullptr || record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto it = std::find_if(record->interfaces.begin(), record->interfaces.end(),
                         [&](const Interface &entry) { return SameGuid(entry.guid, *guid); });
  if (it == record->interfaces.end() || it->pointer != oldInterface) {
    return EFI_NOT_FOUND;
  }
  EventSystem::Section section(events_);
  Withdraw(it->serial);
  it->pointer = newInterface;
  it->serial = nextSerial_++;
  const Interface replaced = *it;
  Announce(handle, replaced);
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::Uninstall(EFI_HANDLE handle, const EFI_GUID *guid, void *interface) {
  HandleRecord *record = FindHandle(handle);
  if (guid == nullptr || record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto it = std::find_if(record->interfaces.begin(), record->interfaces.end(),
                         [&](const Interface &entry) { return SameGuid(entry.guid, *guid); });
  if (it == record->interfaces.end() || it->pointer != interface) {
    return EFI_NOT_FOUND;
  }
  EventSystem::Section section(events_);
  const uint64_t serial = it->serial;
  record->interfaces.erase(it);
  // A handle without protocols no longer exists; its value is never handed out again.
  if (record->interfaces.empty()) {
    handles_.erase(handles_.begin() + (record - handles_.data()));
  }
  Withdraw(serial);
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::UninstallMultiple(EFI_HANDLE handle, std::span<const ProtocolPair> pairs) {
  const HandleRecord *record = FindHandle(handle);
  if (record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // All or nothing: the whole list must be present before anything is removed.
  for (size_t index = 0; index < pairs.size(); index++) {
    const ProtocolPair &pair = pairs[index];
    if (pair.guid == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    auto present = std::find_if(record->interfaces.begin(), record->interfaces.end(), [&](const Interface &entry) {
      return SameGuid(entry.guid, *pair.guid) && entry.pointer == pair.interface;
    });
    auto repeated = std::find_if(pairs.begin(), pairs.begin() + index,
                                 [&](const ProtocolPair &earlier) { return SameGuid(*earlier.guid, *pair.guid); });
    if (present == record->interfaces.end() || repeated != pairs.begin() + index) {
      return EFI_INVALID_PARAMETER;
    }
  }
  EventSystem::Section section(events_);
  for (const ProtocolPair &pair : pairs) {
    Uninstall(handle, pair.guid, pair.interface);
  }
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::HandleProtocol(EFI_HANDLE handle, const EFI_GUID *guid, void **interface) const {
  if (guid == nullptr || interface == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *interface = nullptr;
  const HandleRecord *record = FindHandle(handle);
  if (record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  for (const Interface &entry : record->interfaces) {
    if (SameGuid(entry.guid, *guid)) {
      *interface = entry.pointer;
      return EFI_SUCCESS;
    }
  }
  return EFI_UNSUPPORTED;
}

EFI_STATUS ProtocolDatabase::RegisterNotify(const EFI_GUID *guid, EFI_EVENT event, void **registration) {
  if (guid == nullptr || registration == nullptr || !events_.IsEvent(event)) {
    return EFI_INVALID_PARAMETER;
  }
  // Instances installed before the registration are not new to it; its list starts empty.
  registrations_.push_back(Registration{tokens_.Next(), *guid, event, {}});
  *registration = registrations_.back().key;
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::LocateHandle(uint32_t searchType, const EFI_GUID *guid, void *searchKey, UINTN *bufferSize,
                                          EFI_HANDLE *buffer) {
  if (bufferSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_HANDLE> found;
  if (EFI_STATUS status = Search(searchType, guid, searchKey, found); status != EFI_SUCCESS) {
    return status;
  }
  const UINTN needed = found.size() * sizeof(EFI_HANDLE);
  if (*bufferSize < needed) {
    *bufferSize = needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  if (buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::copy(found.begin(), found.end(), buffer);
  *bufferSize = needed;
  // The registration's next handle is consumed only once the caller actually received it.
  if (searchType == ByRegisterNotify) {
    FindRegistration(searchKey)->fresh.pop_front();
  }
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::LocateHandleBuffer(uint32_t searchType, const EFI_GUID *guid, void *searchKey,
                                                UINTN *count, EFI_HANDLE **buffer) {
  if (count == nullptr || buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *count = 0;
  *buffer = nullptr;
  std::vector<EFI_HANDLE> found;
  if (EFI_STATUS status = Search(searchType, guid, searchKey, found); status != EFI_SUCCESS) {
    return status;
  }
  void *memory = nullptr;
  if (pool_.Allocate(EfiBootServicesData, found.size() * sizeof(EFI_HANDLE), &memory) != EFI_SUCCESS) {
    return EFI_OUT_OF_RESOURCES;
  }
  std::copy(found.begin(), found.end(), static_cast<EFI_HANDLE *>(memory));
  if (searchType == ByRegisterNotify) {
    FindRegistration(searchKey)->fresh.pop_front();
  }
  *count = found.size();
  *buffer = static_cast<EFI_HANDLE *>(memory);
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::LocateProtocol(const EFI_GUID *guid, void *registration, void **interface) {
  if (interface == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *interface = nullptr;
  if (guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (registration != nullptr) {
    // Each instance installed after the registration is handed out exactly once, oldest first.
    Registration *entry = FindRegistration(registration);
    if (entry == nullptr || !SameGuid(entry->guid, *guid) || entry->fresh.empty()) {
      return EFI_NOT_FOUND;
    }
    *interface = entry->fresh.front().pointer;
    entry->fresh.pop_front();
    return EFI_SUCCESS;
  }
  std::optional<void *> first = Find(*guid);
  if (!first) {
    return EFI_NOT_FOUND;
  }
  *interface = *first;
  return EFI_SUCCESS;
}

EFI_STATUS ProtocolDatabase::ProtocolsPerHandle(EFI_HANDLE handle, EFI_GUID ***buffer, UINTN *count) {
  const HandleRecord *record = FindHandle(handle);
  if (buffer == nullptr || count == nullptr || record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_GUID *> guids;
  for (const Interface &entry : record->interfaces) {
    guids.push_back(StableGuid(entry.guid));
  }
  void *memory = nullptr;
  if (pool_.Allocate(EfiBootServicesData, guids.size() * sizeof(EFI_GUID *), &memory) != EFI_SUCCESS) {
    return EFI_OUT_OF_RESOURCES;
  }
  std::copy(guids.begin(), guids.end(), static_cast<EFI_GUID **>(memory));
  *buffer = static_cast<EFI_GUID **>(memory);
  *count = guids.size();
  return EFI_SUCCESS;
}

std::optional<void *> ProtocolDatabase::Find(const EFI_GUID &guid) const {
  const Interface *first = nullptr;
  for (const HandleRecord &record : handles_) {
    for (const Interface &entry : record.interfaces) {
      if (SameGuid(entry.guid, guid) && (first == nullptr || entry.serial < first->serial)) {
        first = &entry;
      }
    }
  }
  if (first == nullptr) {
    return std::nullopt;
  }
  return first->pointer;
}

std::vector<InstalledProtocol> ProtocolDatabase::Installed() const {
  std::vector<InstalledProtocol> installed;
  for (const HandleRecord &record : handles_) {
    for (const Interface &entry : record.interfaces) {
      installed.push_back(InstalledProtocol{record.handle, entry.guid, entry.pointer});
    }
  }
  return installed;
}

std::vector<EFI_GUID> ProtocolDatabase::RegistrationsOf(EFI_EVENT event) const {
  std::vector<EFI_GUID> guids;
  for (const Registration &registration : registrations_) {
    if (registration.event == event) {
      guids.push_back(registration.guid);
    }
  }
  return guids;
}

void ProtocolDatabase::ForgetEvent(EFI_EVENT event) {
  std::erase_if(registrations_, [&](const Registration &registration) { return registration.event == event; });
}

ProtocolDatabase::HandleRecord *ProtocolDatabase::FindHandle(EFI_HANDLE handle) {
  return const_cast<HandleRecord *>(std::as_const(*this).FindHandle(handle));
}

const ProtocolDatabase::HandleRecord *ProtocolDatabase::FindHandle(EFI_HANDLE handle) const {
  if (handle == nullptr) {
    return nullptr;
  }
  auto it = std::find_if(handles_.begin(), handles_.end(),
                         [&](const HandleRecord &record) { return record.handle == handle; });
  return it == handles_.end() ? nullptr : &*it;
}

ProtocolDatabase::Registration *ProtocolDatabase::FindRegistration(void *key) {
  auto it = std::find_if(registrations_.begin(), registrations_.end(),
                         [&](const Registration &registration) { return registration.key == key; });
  return it == registrations_.end() ? nullptr : &*it;
}

EFI_STATUS ProtocolDatabase::CheckInstallable(EFI_HANDLE handle, std::span<const ProtocolPair> pairs) const {
  const HandleRecord *record = nullptr;
  if (handle != nullptr) {
    record = FindHandle(handle);
    if (record == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
  }
  for (size_t index = 0; index < pairs.size(); index++) {
    const EFI_GUID *guid = pairs[index].guid;
    if (guid == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    // One handle carries at most one instance of a protocol, whether it came earlier or in
    // this same list.
    auto same = [&](const EFI_GUID &other) { return SameGuid(other, *guid); };
    if (record != nullptr && std::any_of(record->interfaces.begin(), record->interfaces.end(),
                                         [&](const Interface &entry) { return same(entry.guid); })) {
      return EFI_INVALID_PARAMETER;
    }
    if (std::any_of(pairs.begin(), pairs.begin() + index, [&](const ProtocolPair &pair) { return same(*pair.guid); })) {
      return EFI_INVALID_PARAMETER;
    }
  }
  return EFI_SUCCESS;
}

void ProtocolDatabase::Announce(EFI_HANDLE handle, const Interface &interface) {
  std::vector<EFI_EVENT> toSignal;
  for (Registration &registration : registrations_) {
    if (SameGuid(registration.guid, interface.guid)) {
      registration.fresh.push_back(Fresh{handle, interface.serial, interface.pointer});
      toSignal.push_back(registration.event);
    }
  }
  // Signalling can run notifications above TPL_NOTIFY at once, and they may register more; so
  // the registration list is not walked while signalling.
  for (EFI_EVENT event : toSignal) {
    events_.Signal(event);
  }
}

void ProtocolDatabase::Withdraw(uint64_t serial) {
  for (Registration &registration : registrations_) {
    std::erase_if(registration.fresh, [&](const Fresh &fresh) { return fresh.serial == serial; });
  }
}

EFI_STATUS ProtocolDatabase::Search(uint32_t searchType, const EFI_GUID *guid, void *searchKey,
                                    std::vector<EFI_HANDLE> &found) {
  switch (searchType) {
    case AllHandles:
      for (const HandleRecord &record : handles_) {
        found.push_back(record.handle);
      }
      break;
    case ByProtocol: {
      if (guid == nullptr) {
        return EFI_INVALID_PARAMETER;
      }
      // Handles come in the order their instance of the protocol was installed.
      std::vector<std::pair<uint64_t, EFI_HANDLE>> ordered;
      for (const HandleRecord &record : handles_) {
        for (const Interface &entry : record.interfaces) {
          if (SameGuid(entry.guid, *guid)) {
            ordered.emplace_back(entry.serial, record.handle);
          }
        }
      }
      std::sort(ordered.begin(), ordered.end());
      for (const auto &[serial, handle] : ordered) {
        found.push_back(handle);
      }
      break;
    }
    case ByRegisterNotify: {
      Registration *registration = FindRegistration(searchKey);
      if (registration == nullptr) {
        return EFI_INVALID_PARAMETER;
      }
      if (!registration->fresh.empty()) {
        found.push_back(registration->fresh.front().handle);
      }
      break;
    }
    default:
      return EFI_INVALID_PARAMETER;
  }
  return found.empty() ? EFI_NOT_FOUND : EFI_SUCCESS;
}

EFI_GUID *ProtocolDatabase::StableGuid(const EFI_GUID &guid) {
  return &guidStorage_.try_emplace(guid, guid).first->second;
}

}  // namespace sim
