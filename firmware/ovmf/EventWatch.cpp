#include "firmware/ovmf/EventWatch.h"

#include "firmware/ovmf/Channel.h"

namespace ccx_ovmf {
namespace {

using namespace ccx_channel;

constexpr UINTN kMostEvents = 64;

EFI_BOOT_SERVICES *gBoot = nullptr;
uint64_t gImageBase = 0;
uint64_t gImageSize = 0;
WatchedEvent gEvents[kMostEvents];
UINTN gEventCount = 0;

decltype(EFI_BOOT_SERVICES::CreateEvent) gCreateEvent;
decltype(EFI_BOOT_SERVICES::CreateEventEx) gCreateEventEx;
decltype(EFI_BOOT_SERVICES::CloseEvent) gCloseEvent;
decltype(EFI_BOOT_SERVICES::RegisterProtocolNotify) gRegisterProtocolNotify;
decltype(EFI_BOOT_SERVICES::AllocatePages) gAllocatePages;
decltype(EFI_BOOT_SERVICES::FreePages) gFreePages;

bool FromImage(const void *ReturnAddress) {
  const uint64_t Address = reinterpret_cast<uint64_t>(ReturnAddress);
  return Address >= gImageBase && Address - gImageBase < gImageSize;
}

void Remember(EFI_EVENT Event, EFI_TPL Tpl, EFI_EVENT_NOTIFY Notify, const EFI_GUID *Group) {
  if (gEventCount == kMostEvents) return;
  WatchedEvent &Watched = gEvents[gEventCount++];
  Watched.Event = Event;
  Watched.Open = true;
  Watched.Record.Notify = reinterpret_cast<uint64_t>(Notify);
  Watched.Record.Tpl = Tpl;
  Watched.Record.HasGroup = Group != nullptr ? 1 : 0;
  Watched.Record.WaitCount = 0;
  const auto *Bytes = reinterpret_cast<const uint8_t *>(Group);
  for (unsigned Index = 0; Index < 16; Index++) Watched.Record.Group[Index] = Group != nullptr ? Bytes[Index] : 0;
}

WatchedEvent *Find(EFI_EVENT Event) {
  for (UINTN Index = gEventCount; Index != 0; Index--) {
    if (gEvents[Index - 1].Event == Event && gEvents[Index - 1].Open) return &gEvents[Index - 1];
  }
  return nullptr;
}

EFI_STATUS EFIAPI WatchCreateEvent(UINT32 Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY Notify, VOID *Context, EFI_EVENT *Event) {
  const EFI_STATUS Status = gCreateEvent(Type, Tpl, Notify, Context, Event);
  if (Status == EFI_SUCCESS && FromImage(__builtin_return_address(0))) Remember(*Event, Tpl, Notify, nullptr);
  return Status;
}

EFI_STATUS EFIAPI WatchCreateEventEx(UINT32 Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY Notify, CONST VOID *Context,
                                     CONST EFI_GUID *Group, EFI_EVENT *Event) {
  const EFI_STATUS Status = gCreateEventEx(Type, Tpl, Notify, Context, Group, Event);
  if (Status == EFI_SUCCESS && FromImage(__builtin_return_address(0))) Remember(*Event, Tpl, Notify, Group);
  return Status;
}

EFI_STATUS EFIAPI WatchCloseEvent(EFI_EVENT Event) {
  const EFI_STATUS Status = gCloseEvent(Event);
  if (Status == EFI_SUCCESS) {
    if (WatchedEvent *Watched = Find(Event)) Watched->Open = false;
  }
  return Status;
}

EFI_STATUS EFIAPI WatchRegisterProtocolNotify(EFI_GUID *Protocol, EFI_EVENT Event, VOID **Registration) {
  const EFI_STATUS Status = gRegisterProtocolNotify(Protocol, Event, Registration);
  WatchedEvent *Watched = Status == EFI_SUCCESS ? Find(Event) : nullptr;
  if (Watched != nullptr && Watched->Record.WaitCount < kMostWaits) Watched->Waits[Watched->Record.WaitCount++] = *Protocol;
  return Status;
}

// Real firmware may hand pages out of a stretch its memory map already shows as their type, so
// ccxsim learns of the image's page allocations as they happen.
void TellPages(uint64_t Address, UINTN Pages, uint32_t Type) {
  Mailbox &Box = AcquireChannel(kPages, ThisProcessor());
  Box.Header.Value = Address;
  Box.Header.FaultAddress = Pages;
  __builtin_memcpy(Box.Data, &Type, sizeof(Type));
  Box.Header.DataSize = sizeof(Type);
  const uint32_t Answer = Exchange();
  ReleaseChannel();
  if (Answer != kResume) Park();
}

EFI_STATUS EFIAPI WatchAllocatePages(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                     EFI_PHYSICAL_ADDRESS *Memory) {
  const EFI_STATUS Status = gAllocatePages(Type, MemoryType, Pages, Memory);
  if (Status == EFI_SUCCESS && FromImage(__builtin_return_address(0))) TellPages(*Memory, Pages, MemoryType);
  return Status;
}

EFI_STATUS EFIAPI WatchFreePages(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages) {
  const EFI_STATUS Status = gFreePages(Memory, Pages);
  if (Status == EFI_SUCCESS && FromImage(__builtin_return_address(0))) TellPages(Memory, Pages, kPagesFreed);
  return Status;
}

}  // namespace

VOID WatchImageEvents(EFI_SYSTEM_TABLE *SystemTable, uint64_t ImageBase, uint64_t ImageSize) {
  gBoot = SystemTable->BootServices;
  gImageBase = ImageBase;
  gImageSize = ImageSize;
  gCreateEvent = gBoot->CreateEvent;
  gCreateEventEx = gBoot->CreateEventEx;
  gCloseEvent = gBoot->CloseEvent;
  gRegisterProtocolNotify = gBoot->RegisterProtocolNotify;
  gAllocatePages = gBoot->AllocatePages;
  gFreePages = gBoot->FreePages;
  gBoot->AllocatePages = WatchAllocatePages;
  gBoot->FreePages = WatchFreePages;
  gBoot->CreateEvent = WatchCreateEvent;
  gBoot->CreateEventEx = WatchCreateEventEx;
  gBoot->CloseEvent = WatchCloseEvent;
  gBoot->RegisterProtocolNotify = WatchRegisterProtocolNotify;
  // The table's checksum covers the entries.
  UINT32 Crc = 0;
  gBoot->Hdr.CRC32 = 0;
  gBoot->CalculateCrc32(gBoot, gBoot->Hdr.HeaderSize, &Crc);
  gBoot->Hdr.CRC32 = Crc;
}

const WatchedEvent *WatchedEvents(UINTN &Count) {
  Count = gEventCount;
  return gEvents;
}

}  // namespace ccx_ovmf
