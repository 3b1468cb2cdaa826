#include "firmware/ovmf/Proxies.h"

#include "firmware/ovmf/Channel.h"
#include "uefi/Hob.h"
#include "uefi/StandardGuids.h"

using namespace ccx_channel;

// kProxyCount * kSlotsPerProxy stubs, 16 bytes apart: stub N loads N into EAX and jumps to the
// common part, which stores the four register arguments into their home slots, so that the
// arguments lie one after another from RSP + 8, and forwards them.
extern "C" uint8_t CcxProxyStubs[];
extern "C" UINT64 EFIAPI CcxProxyForward(UINT32 Stub, const UINT64 *Arguments);
__asm__(
    ".text\n"
    ".p2align 4\n"
    ".globl CcxProxyStubs\n"
    "CcxProxyStubs:\n"
    ".set ccx_stub, 0\n"
    ".rept 2048\n"
    "  .p2align 4\n"
    "  movl $ccx_stub, %eax\n"
    "  jmp CcxProxyCommon\n"
    "  .set ccx_stub, ccx_stub + 1\n"
    ".endr\n"
    "CcxProxyCommon:\n"
    "  movq %rcx, 8(%rsp)\n"
    "  movq %rdx, 16(%rsp)\n"
    "  movq %r8, 24(%rsp)\n"
    "  movq %r9, 32(%rsp)\n"
    "  leaq 8(%rsp), %rdx\n"
    "  movl %eax, %ecx\n"
    "  subq $40, %rsp\n"
    "  call CcxProxyForward\n"
    "  addq $40, %rsp\n"
    "  ret\n");
static_assert(kProxyCount * kSlotsPerProxy == 2048, "the stub table holds every proxy's slots");

namespace ccx_ovmf {
namespace {

uint64_t gInterfaces[kProxyCount];

// A request whose answer's Data the caller needs after the channel is released: a copy of it, in
// pool memory, and its size (null when the allocation fails).
uint8_t *AskForData(EFI_BOOT_SERVICES *Boot, uint32_t Request, const char *Text, uint32_t &Size) {
  Mailbox &Box = AcquireChannel(Request, ThisProcessor());
  uint32_t Length = 0;
  while (Text != nullptr && Text[Length] != '\0') {
    Box.Data[Length] = static_cast<uint8_t>(Text[Length]);
    Length++;
  }
  Box.Header.DataSize = Length;
  const uint32_t Answer = Exchange();
  Size = Box.Header.DataSize;
  uint8_t *Copied = nullptr;
  if (Answer == kResume && Boot->AllocatePool(EfiBootServicesData, Size + 8, reinterpret_cast<VOID **>(&Copied)) == EFI_SUCCESS) {
    CopyBytes(Copied, Box.Data, Size);
  }
  ReleaseChannel();
  if (Answer != kResume) Park();
  return Copied;
}

EFI_STATUS InstallOffer(EFI_BOOT_SERVICES *Boot, const ProtocolOffer &Offer, const uint64_t *Values) {
  uint64_t *Interface = nullptr;
  EFI_STATUS Status = Boot->AllocatePool(EfiBootServicesData, Offer.Slots * 8 + 8, reinterpret_cast<VOID **>(&Interface));
  if (EFI_ERROR(Status)) return Status;
  for (uint32_t Slot = 0; Slot < Offer.Slots; Slot++) {
    const bool Function = ((Offer.FunctionMask >> Slot) & 1) != 0;
    Interface[Slot] = Function ? reinterpret_cast<uint64_t>(CcxProxyStubs + 16 * (Offer.Proxy * kSlotsPerProxy + Slot))
                               : Values[Slot];
  }
  gInterfaces[Offer.Proxy] = reinterpret_cast<uint64_t>(Interface);
  EFI_GUID Guid;
  CopyBytes(&Guid, Offer.Guid, sizeof(Guid));
  if (Offer.Replace != 0) {
    UINTN Count = 0;
    EFI_HANDLE *Handles = nullptr;
    if (Boot->LocateHandleBuffer(ByProtocol, &Guid, nullptr, &Count, &Handles) == EFI_SUCCESS && Count != 0) {
      VOID *Old = nullptr;
      Status = Boot->HandleProtocol(Handles[0], &Guid, &Old);
      if (!EFI_ERROR(Status)) Status = Boot->ReinstallProtocolInterface(Handles[0], &Guid, Old, Interface);
      Boot->FreePool(Handles);
      return Status;
    }
  }
  EFI_HANDLE Handle = nullptr;
  return Boot->InstallProtocolInterface(&Handle, &Guid, EFI_NATIVE_INTERFACE, Interface);
}

}  // namespace

EFI_STATUS Arrive(EFI_BOOT_SERVICES *Boot, const char *What) {
  uint32_t Size = 0;
  uint8_t *Offers = AskForData(Boot, kArrive, What, Size);
  if (Offers == nullptr) return EFI_OUT_OF_RESOURCES;
  OfferList List;
  CopyBytes(&List, Offers, sizeof(List));
  UINTN Offset = sizeof(List);
  EFI_STATUS Result = EFI_SUCCESS;
  for (uint32_t Index = 0; Index < List.Count && Offset + sizeof(ProtocolOffer) <= Size; Index++) {
    ProtocolOffer Offer;
    CopyBytes(&Offer, Offers + Offset, sizeof(Offer));
    Offset += sizeof(Offer);
    if (Offer.Proxy >= kProxyCount || Offer.Slots > kSlotsPerProxy || Offset + Offer.Slots * 8ULL > Size) break;
    const EFI_STATUS Status = InstallOffer(Boot, Offer, reinterpret_cast<const uint64_t *>(Offers + Offset));
    if (EFI_ERROR(Status) && !EFI_ERROR(Result)) Result = Status;
    Offset += Offer.Slots * 8ULL;
  }
  Boot->FreePool(Offers);
  return Result;
}

EFI_STATUS AddMachineHobs(EFI_SYSTEM_TABLE *SystemTable) {
  EFI_BOOT_SERVICES *Boot = SystemTable->BootServices;
  uint8_t *List = nullptr;
  for (UINTN Index = 0; Index < SystemTable->NumberOfTableEntries; Index++) {
    if (GuidsEqual(&SystemTable->ConfigurationTable[Index].VendorGuid, &gEfiHobListGuid)) {
      List = static_cast<uint8_t *>(SystemTable->ConfigurationTable[Index].VendorTable);
    }
  }
  if (List == nullptr) return EFI_NOT_FOUND;
  // The firmware's HOBs up to its end-of-list HOB.
  UINTN Length = 0;
  for (;;) {
    EFI_HOB_GENERIC_HEADER Header;
    CopyBytes(&Header, List + Length, sizeof(Header));
    if (Header.HobType == EFI_HOB_TYPE_END_OF_HOB_LIST || Header.HobLength == 0) break;
    Length += Header.HobLength;
  }
  uint32_t Added = 0;
  uint8_t *Machine = AskForData(Boot, kHobs, nullptr, Added);
  if (Machine == nullptr) return EFI_OUT_OF_RESOURCES;
  uint8_t *Merged = nullptr;
  EFI_STATUS Status = Boot->AllocatePool(EfiBootServicesData, Length + Added + sizeof(EFI_HOB_GENERIC_HEADER),
                                         reinterpret_cast<VOID **>(&Merged));
  if (EFI_ERROR(Status)) return Status;
  CopyBytes(Merged, List, Length);
  CopyBytes(Merged + Length, Machine, Added);
  EFI_HOB_GENERIC_HEADER End = {EFI_HOB_TYPE_END_OF_HOB_LIST, sizeof(EFI_HOB_GENERIC_HEADER), 0};
  CopyBytes(Merged + Length + Added, &End, sizeof(End));
  reinterpret_cast<EFI_HOB_HANDOFF_INFO_TABLE *>(Merged)->EfiEndOfHobList =
      reinterpret_cast<uint64_t>(Merged + Length + Added);
  Boot->FreePool(Machine);
  return Boot->InstallConfigurationTable(&gEfiHobListGuid, Merged);
}

}  // namespace ccx_ovmf

extern "C" UINT64 EFIAPI CcxProxyForward(UINT32 Stub, const UINT64 *Arguments) {
  using namespace ccx_ovmf;
  Mailbox &Box = AcquireChannel(kCall, ThisProcessor());
  CallFrame Frame;
  Frame.Interface = gInterfaces[(Stub / kSlotsPerProxy) % kProxyCount];
  for (uint32_t Index = 0; Index < kCallArguments; Index++) Frame.Arguments[Index] = Arguments[Index];
  CopyBytes(Box.Data, &Frame, sizeof(Frame));
  Box.Header.DataSize = sizeof(Frame);
  Box.Header.Value = Stub;
  const uint32_t Answer = Exchange();
  const UINT64 Result = Box.Header.Value;
  ReleaseChannel();
  if (Answer != kResume) Park();
  return Result;
}
