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

#include "tests/support/HostPages.h"
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

// One AllocatePages or FreePages call.
struct PageCall {
  std::string Call;  // "AllocatePages" or "FreePages"
  uint32_t Type = 0;  // the EFI_ALLOCATE_TYPE of AllocatePages
  uint32_t MemoryType = 0;
  uint64_t Pages = 0;
  uint64_t Address = 0;  // as given: the maximum or requested address, or the base freed
  uint64_t Result = 0;   // the base handed out
  EFI_STATUS Status = 0;
};

struct VariableValue {
  uint32_t Attributes = 0;
  std::vector<uint8_t> Data;
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
  // Every MSR write, in order.
  std::vector<std::pair<uint32_t, uint64_t>> MsrWrites;
  std::map<uint32_t, std::vector<uint32_t>> CpuidLeaves;
  // CPUID answers for one sub-leaf of a leaf, (leaf, sub-leaf); they come before CpuidLeaves.
  std::map<std::pair<uint32_t, uint32_t>, std::vector<uint32_t>> CpuidSubLeaves;
  uint16_t Backdoor = 1;
  std::vector<PortWrite> PortWrites;
  std::map<uint64_t, uint64_t> Mmio;

  // Pages are host memory at whatever address the host gives (the maximum address is recorded,
  // not obeyed); a page range given back can be allocated again at its address. Failures go by
  // "AllocatePages:AnyPages", "AllocatePages:MaxAddress", "AllocatePages:Address" and "FreePages".
  std::vector<PageCall> PageCalls;
  // When not 0, every byte of freshly mapped pages is set to it (keep such allocations small).
  uint8_t NewPageFill = 0;
  // Runtime services: variables by "<guid name>/<name>", and the reset types asked for.
  // ResetSystem returns here, after recording, so that a test goes on.
  std::map<std::string, VariableValue> Variables;
  std::vector<uint32_t> Resets;
  // Pool blocks handed out and not given back. Firmware keeps some pool for good (the shared
  // heap's nodes); the fake frees what is left when it goes.
  std::vector<void *> LivePool;
  // Every AllocatePool request, in order: (memory type, size).
  std::vector<std::pair<uint32_t, uint64_t>> PoolRequests;

  static FakeFirmware *Current();

  // Boot-services behaviour (public for the EFIAPI thunks).
  EFI_STATUS Locate(const EFI_GUID *Guid, void **Interface);
  EFI_STATUS Install(EFI_HANDLE *Handle, const EFI_GUID *Guid, void *Interface, const char *Call);
  EFI_STATUS CreateEvent(uint32_t Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY Notify, const void *Context,
                         const EFI_GUID *Group, EFI_EVENT *Event, const char *Call);
  EFI_STATUS Record(const std::string &Key);
  EFI_STATUS AllocatePages(uint32_t Type, uint32_t MemoryType, uint64_t Pages, uint64_t *Address);
  EFI_STATUS FreePages(uint64_t Address, uint64_t Pages);
  EFI_STATUS GetVariable(const CHAR16 *Name, const EFI_GUID *Guid, uint32_t *Attributes, UINTN *Size, void *Data);
  EFI_STATUS SetVariable(const CHAR16 *Name, const EFI_GUID *Guid, uint32_t Attributes, UINTN Size, const void *Data);
  void ResetSystem(uint32_t Type);

 private:
  void InstallPageAndRuntimeServices();

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
  HostPages HostPages_;
};

}  // namespace fake

#endif  // TESTS_SUPPORT_FAKE_FIRMWARE_H_
