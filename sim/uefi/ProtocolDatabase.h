// The handle and protocol database: installing, reinstalling and removing protocol interfaces,
// the handle and protocol searches, and protocol notify registrations with their keys.
#ifndef SIM_UEFI_PROTOCOL_DATABASE_H_
#define SIM_UEFI_PROTOCOL_DATABASE_H_

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "sim/uefi/EventSystem.h"
#include "sim/uefi/Guid.h"
#include "sim/uefi/PoolAllocator.h"
#include "sim/uefi/TokenArena.h"

namespace sim {

struct InstalledProtocol {
  EFI_HANDLE handle;
  EFI_GUID guid;
  void *interface;
};

// One GUID/interface pair of InstallMultipleProtocolInterfaces and its uninstall counterpart.
struct ProtocolPair {
  const EFI_GUID *guid;
  void *interface;
};

class ProtocolDatabase {
 public:
  // Handle buffers that the searches return are pool memory, as callers free them with FreePool.
  ProtocolDatabase(EventSystem &events, PoolAllocator &pool);
  ProtocolDatabase(const ProtocolDatabase &) = delete;
  ProtocolDatabase &operator=(const ProtocolDatabase &) = delete;

  EFI_STATUS Install(EFI_HANDLE *handle, const EFI_GUID *guid, void *interface);
  EFI_STATUS InstallMultiple(EFI_HANDLE *handle, std::span<const ProtocolPair> pairs);
  EFI_STATUS Reinstall(EFI_HANDLE handle, const EFI_GUID *guid, void *oldInterface, void *newInterface);
  EFI_STATUS Uninstall(EFI_HANDLE handle, const EFI_GUID *guid, void *interface);
  EFI_STATUS UninstallMultiple(EFI_HANDLE handle, std::span<const ProtocolPair> pairs);
  EFI_STATUS HandleProtocol(EFI_HANDLE handle, const EFI_GUID *guid, void **interface) const;
  EFI_STATUS RegisterNotify(const EFI_GUID *guid, EFI_EVENT event, void **registration);
  // Search types arrive as the raw value the caller passed, so that an undefined one can be refused.
  EFI_STATUS LocateHandle(uint32_t searchType, const EFI_GUID *guid, void *searchKey, UINTN *bufferSize,
                          EFI_HANDLE *buffer);
  EFI_STATUS LocateHandleBuffer(uint32_t searchType, const EFI_GUID *guid, void *searchKey, UINTN *count,
                                EFI_HANDLE **buffer);
  EFI_STATUS LocateProtocol(const EFI_GUID *guid, void *registration, void **interface);
  EFI_STATUS ProtocolsPerHandle(EFI_HANDLE handle, EFI_GUID ***buffer, UINTN *count);

  // The first installed instance of a protocol; an instance may be a null interface (a marker).
  std::optional<void *> Find(const EFI_GUID &guid) const;
  bool IsHandle(EFI_HANDLE handle) const { return FindHandle(handle) != nullptr; }
  // Every interface, handles in creation order, each handle's protocols in installation order.
  std::vector<InstalledProtocol> Installed() const;
  // The protocols an event is registered for with RegisterProtocolNotify.
  std::vector<EFI_GUID> RegistrationsOf(EFI_EVENT event) const;
  // Drops the registrations of an event that closed.
  void ForgetEvent(EFI_EVENT event);

 private:
  struct Interface {
    EFI_GUID guid;
    void *pointer;
    uint64_t serial;  // installation order over the whole database
  };
  struct HandleRecord {
    EFI_HANDLE handle;
    std::vector<Interface> interfaces;
  };
  // An instance that a registration has not handed out yet.
  struct Fresh {
    EFI_HANDLE handle;
    uint64_t serial;
    void *pointer;
  };
  struct Registration {
    void *key;
    EFI_GUID guid;
    EFI_EVENT event;
    std::deque<Fresh> fresh;
  };

  HandleRecord *FindHandle(EFI_HANDLE handle);
  const HandleRecord *FindHandle(EFI_HANDLE handle) const;
  Registration *FindRegistration(void *key);
  EFI_STATUS CheckInstallable(EFI_HANDLE handle, std::span<const ProtocolPair> pairs) const;
  void Announce(EFI_HANDLE handle, const Interface &interface);
  void Withdraw(uint64_t serial);
  // Collects the result of a handle search; a ByRegisterNotify search yields at most one handle.
  EFI_STATUS Search(uint32_t searchType, const EFI_GUID *guid, void *searchKey, std::vector<EFI_HANDLE> &found);
  EFI_GUID *StableGuid(const EFI_GUID &guid);

  EventSystem &events_;
  PoolAllocator &pool_;
  TokenArena tokens_;
  std::vector<HandleRecord> handles_;
  std::vector<Registration> registrations_;
  // The copy handed out for each GUID; a map's values never move, so its address stays valid.
  std::map<EFI_GUID, EFI_GUID, GuidLess> guidStorage_;
  uint64_t nextSerial_ = 1;
};

}  // namespace sim

#endif  // SIM_UEFI_PROTOCOL_DATABASE_H_
