// A small fake of the firmware and the hardware for unit tests of driver code: boot services that
// record every call and fail the ones a test asks for, a PCD database in a map, and processor and
// port hooks over maps and logs. Boot tests use the simulated platform instead.
#ifndef TESTS_SUPPORT_FAKE_FIRMWARE_H_
#define TESTS_SUPPORT_FAKE_FIRMWARE_H_

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "uefi/Pcd.h"
#include "uefi/SystemTable.h"

namespace fake {

struct PortWrite {
  uint16_t Port;
  unsigned Width;
  uint32_t Value;
  bool operator==(const PortWrite &Other) const = default;
};

struct Event {
  uint32_t Type;
  EFI_TPL Tpl;
  EFI_EVENT_NOTIFY Notify;
  const void *Context;
  std::string Group;
  bool Closed = false;
};

class FakeFirmware {
 public:
  FakeFirmware();
  ~FakeFirmware();
  FakeFirmware(const FakeFirmware &) = delete;
  FakeFirmware &operator=(const FakeFirmware &) = delete;

  EFI_SYSTEM_TABLE *SystemTable() { return &SystemTable_; }
  EFI_HANDLE ImageHandle() { return reinterpret_cast<EFI_HANDLE>(&ImageHandleStorage_); }

  // Names GUIDs in the call log; unnamed GUIDs are logged in registry form.
  void NameGuid(const EFI_GUID &Guid, const std::string &Name);
  std::string GuidName(const EFI_GUID *Guid) const;

  // Makes a protocol locatable (interface may be any non-null pointer for presence).
  void AddProtocol(const EFI_GUID &Guid, void *Interface);
  void RemoveProtocol(const EFI_GUID &Guid);
  // Makes the next calls of "<Call>:<guid name>" (or "<Call>" for calls without a GUID) return Status.
  void FailCall(const std::string &Key, EFI_STATUS Status) { Failures_[Key] = Status; }

  // Every boot-services call, in order, as "<Call>:<guid name>" or "<Call>".
  const std::vector<std::string> &Calls() const { return Calls_; }
  bool Called(const std::string &Key) const;
  // Protocols installed by the code under test, in order: (handle, guid name).
  const std::vector<std::pair<EFI_HANDLE, std::string>> &Installed() const { return Installed_; }
  std::vector<Event> &Events() { return Events_; }

  // PCD items by token number, and the Set64 writes in order.
  std::map<UINTN, uint64_t> Pcd;
  std::vector<std::pair<UINTN, uint64_t>> PcdWrites;

  // Processor: MSRs (unknown ones read 0), CPUID by leaf (EAX, EBX, ECX, EDX), the back-door answer.
  std::map<uint32_t, uint64_t> Msrs;
  std::map<uint32_t, std::vector<uint32_t>> CpuidLeaves;
  uint16_t Backdoor = 1;
  std::vector<PortWrite> PortWrites;
  std::map<uint64_t, uint64_t> Mmio;

  static FakeFirmware *Current();

  // Boot-services behaviour (public for the EFIAPI thunks).
  EFI_STATUS Locate(const EFI_GUID *Guid, void **Interface);
  EFI_STATUS Install(EFI_HANDLE *Handle, const EFI_GUID *Guid, void *Interface, const char *Call);
  EFI_STATUS CreateEvent(uint32_t Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY Notify, const void *Context,
                         const EFI_GUID *Group, EFI_EVENT *Event, const char *Call);
  EFI_STATUS Record(const std::string &Key);

 private:
  EFI_SYSTEM_TABLE SystemTable_{};
  EFI_BOOT_SERVICES BootServices_{};
  EFI_RUNTIME_SERVICES RuntimeServices_{};
  PCD_PROTOCOL PcdProtocol_{};
  EFI_PCD_PROTOCOL PiPcdProtocol_{};
  uint64_t ImageHandleStorage_ = 0;
  std::vector<std::pair<EFI_GUID, std::string>> Names_;
  std::vector<std::pair<EFI_GUID, void *>> Protocols_;
  std::map<std::string, EFI_STATUS> Failures_;
  std::vector<std::string> Calls_;
  std::vector<std::pair<EFI_HANDLE, std::string>> Installed_;
  std::vector<Event> Events_;
  std::vector<std::vector<uint8_t>> Handles_;
  const void *PreviousHooks_ = nullptr;
};

}  // namespace fake

#endif  // TESTS_SUPPORT_FAKE_FIRMWARE_H_
