#include "tests/support/FakeFirmware.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "arch/host/HostHooks.h"
#include "interfaces/QorvexGuids.h"
#include "uefi/StandardGuids.h"

namespace fake {
namespace {

FakeFirmware *gCurrent = nullptr;

bool SameGuid(const EFI_GUID &A, const EFI_GUID &B) { return std::memcmp(&A, &B, sizeof(EFI_GUID)) == 0; }

EFI_STATUS EFIAPI LocateProtocolThunk(EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  return gCurrent->Locate(Protocol, Interface);
}
EFI_STATUS EFIAPI InstallProtocolInterfaceThunk(EFI_HANDLE *Handle, EFI_GUID *Protocol, EFI_INTERFACE_TYPE,
                                                VOID *Interface) {
  return gCurrent->Install(Handle, Protocol, Interface, "InstallProtocolInterface");
}
EFI_STATUS EFIAPI InstallMultipleThunk(EFI_HANDLE *Handle, ...) {
  VA_LIST Args;
  VA_START(Args, Handle);
  EFI_STATUS Status = EFI_SUCCESS;
  for (;;) {
    EFI_GUID *Guid = VA_ARG(Args, EFI_GUID *);
    if (Guid == nullptr) break;
    VOID *Interface = VA_ARG(Args, VOID *);
    Status = gCurrent->Install(Handle, Guid, Interface, "InstallMultipleProtocolInterfaces");
    if (EFI_ERROR(Status)) break;
  }
  VA_END(Args);
  return Status;
}
EFI_STATUS EFIAPI CreateEventThunk(UINT32 Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY Notify, VOID *Context,
                                   EFI_EVENT *Event) {
  return gCurrent->CreateEvent(Type, Tpl, Notify, Context, nullptr, Event, "CreateEvent");
}
EFI_STATUS EFIAPI CreateEventExThunk(UINT32 Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY Notify, const VOID *Context,
                                     const EFI_GUID *Group, EFI_EVENT *Event) {
  return gCurrent->CreateEvent(Type, Tpl, Notify, Context, Group, Event, "CreateEventEx");
}
EFI_STATUS EFIAPI RegisterProtocolNotifyThunk(EFI_GUID *Protocol, EFI_EVENT Event, VOID **Registration) {
  EFI_STATUS Status = gCurrent->Record("RegisterProtocolNotify:" + gCurrent->GuidName(Protocol));
  if (!EFI_ERROR(Status)) *Registration = Event;
  return Status;
}
EFI_STATUS EFIAPI CloseEventThunk(EFI_EVENT Event) {
  EFI_STATUS Status = gCurrent->Record("CloseEvent");
  auto &Events = gCurrent->Events();
  const auto Index = reinterpret_cast<uintptr_t>(Event) - 1;
  if (!EFI_ERROR(Status) && Index < Events.size()) Events[Index].Closed = true;
  return Status;
}
EFI_STATUS EFIAPI SignalEventThunk(EFI_EVENT Event) { return gCurrent->Record("SignalEvent"); }
EFI_STATUS EFIAPI AllocatePoolThunk(EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer) {
  gCurrent->PoolRequests.emplace_back(static_cast<uint32_t>(Type), Size);
  EFI_STATUS Status = gCurrent->Record("AllocatePool");
  if (EFI_ERROR(Status)) return Status;
  *Buffer = std::malloc(Size == 0 ? 1 : Size);
  if (*Buffer == nullptr) return EFI_OUT_OF_RESOURCES;
  gCurrent->LivePool.push_back(*Buffer);
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI FreePoolThunk(VOID *Buffer) {
  std::erase(gCurrent->LivePool, Buffer);
  std::free(Buffer);
  return gCurrent->Record("FreePool");
}

UINT64 PcdValue(UINTN Token) {
  auto It = gCurrent->Pcd.find(Token);
  return It == gCurrent->Pcd.end() ? 0 : It->second;
}
UINT8 EFIAPI PcdGet8(UINTN Token) { return static_cast<UINT8>(PcdValue(Token)); }
UINT16 EFIAPI PcdGet16(UINTN Token) { return static_cast<UINT16>(PcdValue(Token)); }
UINT32 EFIAPI PcdGet32(UINTN Token) { return static_cast<UINT32>(PcdValue(Token)); }
UINT64 EFIAPI PcdGet64(UINTN Token) { return PcdValue(Token); }
BOOLEAN EFIAPI PcdGetBool(UINTN Token) { return PcdValue(Token) != 0 ? TRUE : FALSE; }
EFI_STATUS EFIAPI PcdSet64(UINTN Token, UINT64 Value) {
  gCurrent->Pcd[Token] = Value;
  gCurrent->PcdWrites.emplace_back(Token, Value);
  return EFI_SUCCESS;
}
UINT64 EFIAPI PiPcdGet64(const EFI_GUID *, UINTN Token) { return PcdValue(Token); }

void HookCpuid(uint32_t Leaf, uint32_t SubLeaf, uint32_t Registers[4]) {
  auto Sub = gCurrent->CpuidSubLeaves.find({Leaf, SubLeaf});
  if (Sub != gCurrent->CpuidSubLeaves.end()) {
    for (int Index = 0; Index < 4; Index++) Registers[Index] = Sub->second.size() > size_t(Index) ? Sub->second[Index] : 0;
    return;
  }
  auto It = gCurrent->CpuidLeaves.find(Leaf);
  for (int Index = 0; Index < 4; Index++) {
    Registers[Index] = (It != gCurrent->CpuidLeaves.end() && It->second.size() > size_t(Index)) ? It->second[Index] : 0;
  }
}
uint16_t HookBackdoor() { return gCurrent->Backdoor; }
uint64_t HookTsc() {
  static uint64_t Tsc = 0;
  return Tsc += 1000;
}
void HookNothing() {}
uint64_t HookReadMsr(uint32_t Index) {
  auto It = gCurrent->Msrs.find(Index);
  return It == gCurrent->Msrs.end() ? 0 : It->second;
}
void HookWriteMsr(uint32_t Index, uint64_t Value) {
  gCurrent->Msrs[Index] = Value;
  gCurrent->MsrWrites.push_back({Index, Value});
}
uint32_t HookIoRead(uint16_t, unsigned Width) { return Width == 4 ? 0xFFFFFFFFu : (1u << (8 * Width)) - 1; }
void HookIoWrite(uint16_t Port, unsigned Width, uint32_t Value) { gCurrent->PortWrites.push_back({Port, Width, Value}); }
uint64_t HookMmioRead(uint64_t Address, unsigned) {
  auto It = gCurrent->Mmio.find(Address);
  return It == gCurrent->Mmio.end() ? ~0ULL : It->second;
}
void HookMmioWrite(uint64_t Address, unsigned, uint64_t Value) { gCurrent->Mmio[Address] = Value; }

const CCX_ARCH_HOST_HOOKS kHooks = {HookCpuid,   HookBackdoor,  HookTsc,     HookNothing,   HookNothing, HookReadMsr,
                                    HookWriteMsr, HookIoRead,   HookIoWrite, HookMmioRead, HookMmioWrite};

}  // namespace

FakeFirmware *FakeFirmware::Current() { return gCurrent; }

FakeFirmware::FakeFirmware() {
  gCurrent = this;
  PreviousHooks_ = CcxInstallArchHostHooks(&kHooks);
  BootServices_.LocateProtocol = LocateProtocolThunk;
  BootServices_.InstallProtocolInterface = InstallProtocolInterfaceThunk;
  BootServices_.InstallMultipleProtocolInterfaces = InstallMultipleThunk;
  BootServices_.CreateEvent = CreateEventThunk;
  BootServices_.CreateEventEx = CreateEventExThunk;
  BootServices_.RegisterProtocolNotify = RegisterProtocolNotifyThunk;
  BootServices_.CloseEvent = CloseEventThunk;
  BootServices_.SignalEvent = SignalEventThunk;
  BootServices_.AllocatePool = AllocatePoolThunk;
  BootServices_.FreePool = FreePoolThunk;
  InstallPageAndRuntimeServices();
  SystemTable_.BootServices = &BootServices_;
  SystemTable_.RuntimeServices = &RuntimeServices_;
  PcdProtocol_.Get8 = PcdGet8;
  PcdProtocol_.Get16 = PcdGet16;
  PcdProtocol_.Get32 = PcdGet32;
  PcdProtocol_.Get64 = PcdGet64;
  PcdProtocol_.GetBool = PcdGetBool;
  PcdProtocol_.Set64 = PcdSet64;
  PiPcdProtocol_.Get64 = PiPcdGet64;

  NameGuid(gPcdProtocolGuid, "Pcd");
  NameGuid(gEfiPcdProtocolGuid, "EfiPcd");
  NameGuid(gEfiMpServiceProtocolGuid, "MpServices");
  NameGuid(gEfiVariableWriteArchProtocolGuid, "VariableWrite");
  NameGuid(gEfiEventReadyToBootGuid, "ReadyToBoot");
  NameGuid(gQorvexFabricNumaServicesProtocolGuid, "Numa");
  NameGuid(gQorvexFabricSystemServicesProtocolGuid, "System");
  NameGuid(gQorvexFabricTopologyServicesProtocolGuid, "Topology");
  NameGuid(gQorvexCcxAddressInfoProtocolGuid, "AddressInfo");
  NameGuid(gQorvexCcxDxeInitMarkerProtocolGuid, "InitMarker");
  NameGuid(gQorvexCcxDxeInitCompleteProtocolGuid, "InitComplete");
  NameGuid(gQorvexCcxOcTriggerProtocolGuid, "OcTrigger");
  NameGuid(gQorvexCcxAcpiServicesProtocolGuid, "AcpiServices");
  NameGuid(gQorvexCcxResourceAffinityServicesProtocolGuid, "ResourceAffinityServices");
  NameGuid(gQorvexCcxSratServicesProtocolGuid, "SratServices");
  NameGuid(gQorvexCcxPcctServicesProtocolGuid, "PcctServices");
  NameGuid(gQorvexCcxCppcServicesProtocolGuid, "CppcServices");
  NameGuid(gQorvexCcxMcaServicesProtocolGuid, "McaServices");
  NameGuid(gQorvexCcxSmbiosServicesProtocolGuid, "SmbiosServices");
  NameGuid(gQorvexHeapProtocolGuid, "Heap");

  AddProtocol(gPcdProtocolGuid, &PcdProtocol_);
  AddProtocol(gEfiPcdProtocolGuid, &PiPcdProtocol_);
  static uint64_t Sibling = 0;
  AddProtocol(gQorvexFabricNumaServicesProtocolGuid, &Sibling);
  AddProtocol(gQorvexFabricSystemServicesProtocolGuid, &Sibling);
  AddProtocol(gQorvexFabricTopologyServicesProtocolGuid, &Sibling);
  // The BSP: IA32_APIC_BASE with the BSP and global-enable bits.
  Msrs[0x1B] = 0xFEE00900;
}

FakeFirmware::~FakeFirmware() {
  for (void *Block : LivePool) std::free(Block);
  CcxInstallArchHostHooks(static_cast<const CCX_ARCH_HOST_HOOKS *>(PreviousHooks_));
  gCurrent = nullptr;
}

void FakeFirmware::NameGuid(const EFI_GUID &Guid, const std::string &Name) { Names_.emplace_back(Guid, Name); }

std::string FakeFirmware::GuidName(const EFI_GUID *Guid) const {
  if (Guid == nullptr) return "null";
  for (const auto &[Known, Name] : Names_) {
    if (SameGuid(Known, *Guid)) return Name;
  }
  char Text[40];
  std::snprintf(Text, sizeof(Text), "%08x-%04x-%04x", Guid->Data1, Guid->Data2, Guid->Data3);
  return Text;
}

void FakeFirmware::AddProtocol(const EFI_GUID &Guid, void *Interface) { Protocols_.emplace_back(Guid, Interface); }

void FakeFirmware::RemoveProtocol(const EFI_GUID &Guid) {
  std::erase_if(Protocols_, [&](const auto &Entry) { return SameGuid(Entry.first, Guid); });
}

bool FakeFirmware::Called(const std::string &Key) const {
  for (const auto &Call : Calls_) {
    if (Call == Key) return true;
  }
  return false;
}

EFI_STATUS FakeFirmware::Record(const std::string &Key) {
  Calls_.push_back(Key);
  auto It = Failures_.find(Key);
  return It == Failures_.end() ? EFI_SUCCESS : It->second;
}

EFI_STATUS FakeFirmware::Locate(const EFI_GUID *Guid, void **Interface) {
  EFI_STATUS Status = Record("LocateProtocol:" + GuidName(Guid));
  *Interface = nullptr;
  if (EFI_ERROR(Status)) return Status;
  for (const auto &[Known, Found] : Protocols_) {
    if (SameGuid(Known, *Guid)) {
      *Interface = Found;
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

EFI_STATUS FakeFirmware::Install(EFI_HANDLE *Handle, const EFI_GUID *Guid, void *Interface, const char *Call) {
  EFI_STATUS Status = Record(std::string(Call) + ":" + GuidName(Guid));
  if (EFI_ERROR(Status)) return Status;
  if (*Handle == nullptr) {
    Handles_.emplace_back(8);
    *Handle = Handles_.back().data();
  }
  Installed_.emplace_back(*Handle, GuidName(Guid));
  Protocols_.emplace_back(*Guid, Interface);
  return Status;
}

EFI_STATUS FakeFirmware::CreateEvent(uint32_t Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY Notify, const void *Context,
                                     const EFI_GUID *Group, EFI_EVENT *Event, const char *Call) {
  std::string Key = Call;
  if (Group != nullptr) Key += ":" + GuidName(Group);
  EFI_STATUS Status = Record(Key);
  if (EFI_ERROR(Status)) return Status;
  Events_.push_back({Type, Tpl, Notify, Context, Group == nullptr ? "" : GuidName(Group)});
  *Event = reinterpret_cast<EFI_EVENT>(Events_.size());
  return Status;
}

}  // namespace fake
