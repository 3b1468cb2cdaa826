#include "firmware/ovmf/Survey.h"

#include "firmware/ovmf/Channel.h"
#include "firmware/ovmf/EventWatch.h"
#include "interfaces/QorvexGuids.h"
#include "uefi/Hob.h"
#include "uefi/SmmAccess2.h"
#include "uefi/StandardGuids.h"

namespace ccx_ovmf {
namespace {

using namespace ccx_channel;

constexpr UINTN kMostVariables = 256;
constexpr UINTN kNameRoom = 1024;  // bytes of a variable's name the survey reads
constexpr UINTN kDataRoom = 4096;  // bytes of a variable's data the survey reads
constexpr UINTN kMostSmmCalls = 16;
constexpr UINTN kMostSmramRegions = 16;

struct VariableSeen {
  EFI_GUID Guid;
  CHAR16 Name[kNameRoom / 2];
  UINTN Size;
  uint64_t Hash;
};

EFI_HANDLE *gHandlesBefore = nullptr;
UINTN gHandleCountBefore = 0;
VariableSeen *gVariablesBefore = nullptr;
UINTN gVariableCountBefore = 0;

bool gSmmAccessFound = false;
SurveySmmCall gSmmCalls[kMostSmmCalls];
UINTN gSmmCallCount = 0;
EFI_SMRAM_DESCRIPTOR gSmram[kMostSmramRegions];
UINTN gSmramCount = 0;

bool SameName(const CHAR16 *Left, const CHAR16 *Right) {
  UINTN Index = 0;
  for (; Left[Index] != 0 && Right[Index] != 0; Index++) {
    if (Left[Index] != Right[Index]) return false;
  }
  return Left[Index] == Right[Index];
}

UINTN NameBytes(const CHAR16 *Name) {
  UINTN Length = 0;
  while (Name[Length] != 0) Length++;
  return (Length + 1) * 2;
}

uint64_t Fnv(const uint8_t *Bytes, UINTN Size) {
  uint64_t Hash = 0xCBF29CE484222325ULL;
  for (UINTN Index = 0; Index < Size; Index++) Hash = (Hash ^ Bytes[Index]) * 0x100000001B3ULL;
  return Hash;
}

// Calls Each(Name, Guid, Data, Size) for every variable the firmware holds (names and data cut
// to the rooms above).
template <typename Visitor>
void ForEachVariable(EFI_SYSTEM_TABLE *SystemTable, uint8_t *Data, Visitor Each) {
  EFI_RUNTIME_SERVICES *Runtime = SystemTable->RuntimeServices;
  CHAR16 Name[kNameRoom / 2] = {0};
  EFI_GUID Guid = {};
  for (UINTN Count = 0; Count < kMostVariables; Count++) {
    UINTN NameSize = sizeof(Name);
    if (Runtime->GetNextVariableName(&NameSize, Name, &Guid) != EFI_SUCCESS) return;
    UINTN Size = kDataRoom;
    UINT32 Attributes = 0;
    if (Runtime->GetVariable(Name, &Guid, &Attributes, &Size, Data) != EFI_SUCCESS) continue;
    Each(Name, Guid, Data, Size);
  }
}

// The survey as it is written: records one after another, up to the mailbox's room.
class SurveyWriter {
 public:
  explicit SurveyWriter(uint8_t *Buffer) : Buffer_(Buffer) {}
  void Put(uint16_t Kind, const void *First, UINTN FirstSize, const void *Second = nullptr, UINTN SecondSize = 0,
           const void *Third = nullptr, UINTN ThirdSize = 0) {
    const UINTN Size = FirstSize + SecondSize + ThirdSize;
    if (Truncated_ || Used_ + sizeof(SurveyEntry) * 2 + Size > sizeof(Mailbox::Data)) {
      Truncated_ = true;
      return;
    }
    const SurveyEntry Entry = {Kind, 0, static_cast<uint32_t>(Size)};
    CopyBytes(Buffer_ + Used_, &Entry, sizeof(Entry));
    Used_ += sizeof(Entry);
    CopyBytes(Buffer_ + Used_, First, FirstSize);
    CopyBytes(Buffer_ + Used_ + FirstSize, Second, SecondSize);
    CopyBytes(Buffer_ + Used_ + FirstSize + SecondSize, Third, ThirdSize);
    Used_ += Size;
  }
  UINTN Finish() {
    if (Truncated_) {
      const SurveyEntry Entry = {kSurveyTruncated, 0, 0};
      CopyBytes(Buffer_ + Used_, &Entry, sizeof(Entry));
      Used_ += sizeof(Entry);
    }
    return Used_;
  }

 private:
  uint8_t *Buffer_;
  UINTN Used_ = 0;
  bool Truncated_ = false;
};

void SurveyHandles(EFI_BOOT_SERVICES *Boot, SurveyWriter &Writer) {
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  if (Boot->LocateHandleBuffer(AllHandles, nullptr, nullptr, &Count, &Handles) != EFI_SUCCESS) return;
  uint32_t Made = 0;
  for (UINTN Index = 0; Index < Count; Index++) {
    bool Before = false;
    for (UINTN Old = 0; Old < gHandleCountBefore && !Before; Old++) Before = gHandlesBefore[Old] == Handles[Index];
    if (Before) continue;
    Made++;
    EFI_GUID **Guids = nullptr;
    UINTN GuidCount = 0;
    if (Boot->ProtocolsPerHandle(Handles[Index], &Guids, &GuidCount) != EFI_SUCCESS) continue;
    for (UINTN Each = 0; Each < GuidCount; Each++) {
      VOID *Interface = nullptr;
      Boot->HandleProtocol(Handles[Index], Guids[Each], &Interface);
      const uint64_t Address = reinterpret_cast<uint64_t>(Interface);
      Writer.Put(kSurveyInstalled, &Made, 4, Guids[Each], 16, &Address, 8);
    }
    Boot->FreePool(Guids);
  }
  Boot->FreePool(Handles);
}

// The firmware's memory map, in pool memory the caller keeps.
struct MemoryMapCopy {
  uint8_t *Bytes = nullptr;
  UINTN Size = 0;
  UINTN DescriptorSize = 0;
};

MemoryMapCopy CopyMemoryMap(EFI_BOOT_SERVICES *Boot) {
  MemoryMapCopy Copied;
  UINTN Key = 0;
  UINT32 Version = 0;
  Boot->GetMemoryMap(&Copied.Size, nullptr, &Key, &Copied.DescriptorSize, &Version);
  Copied.Size += 8 * Copied.DescriptorSize;
  if (Copied.DescriptorSize == 0 ||
      Boot->AllocatePool(EfiBootServicesData, Copied.Size, reinterpret_cast<VOID **>(&Copied.Bytes)) != EFI_SUCCESS) {
    return {};
  }
  if (Boot->GetMemoryMap(&Copied.Size, reinterpret_cast<EFI_MEMORY_DESCRIPTOR *>(Copied.Bytes), &Key,
                         &Copied.DescriptorSize, &Version) != EFI_SUCCESS) {
    Copied.Size = 0;
  }
  return Copied;
}

void PutMemoryMap(const MemoryMapCopy &Map, uint16_t Kind, SurveyWriter &Writer) {
  for (UINTN Offset = 0; Map.DescriptorSize != 0 && Offset + Map.DescriptorSize <= Map.Size; Offset += Map.DescriptorSize) {
    const auto *Descriptor = reinterpret_cast<const EFI_MEMORY_DESCRIPTOR *>(Map.Bytes + Offset);
    const uint32_t Type[2] = {Descriptor->Type, 0};
    Writer.Put(Kind, Type, 8, &Descriptor->PhysicalStart, 8, &Descriptor->NumberOfPages, 8);
  }
}

MemoryMapCopy gMapBefore;

}  // namespace

EFI_STATUS TakeBaseline(EFI_SYSTEM_TABLE *SystemTable) {
  EFI_BOOT_SERVICES *Boot = SystemTable->BootServices;
  gMapBefore = CopyMemoryMap(Boot);
  EFI_STATUS Status = Boot->LocateHandleBuffer(AllHandles, nullptr, nullptr, &gHandleCountBefore, &gHandlesBefore);
  if (EFI_ERROR(Status)) return Status;
  uint8_t *Data = nullptr;
  Status = Boot->AllocatePool(EfiBootServicesData, kDataRoom, reinterpret_cast<VOID **>(&Data));
  if (EFI_ERROR(Status)) return Status;
  Status = Boot->AllocatePool(EfiBootServicesData, kMostVariables * sizeof(VariableSeen),
                              reinterpret_cast<VOID **>(&gVariablesBefore));
  if (EFI_ERROR(Status)) return Status;
  ForEachVariable(SystemTable, Data, [](const CHAR16 *Name, const EFI_GUID &Guid, const uint8_t *Bytes, UINTN Size) {
    VariableSeen &Seen = gVariablesBefore[gVariableCountBefore++];
    CopyBytes(Seen.Name, Name, NameBytes(Name));
    Seen.Guid = Guid;
    Seen.Size = Size;
    Seen.Hash = Fnv(Bytes, Size);
  });
  Boot->FreePool(Data);
  return EFI_SUCCESS;
}

VOID RunSmmCorePhase(EFI_BOOT_SERVICES *Boot) {
  EFI_SMM_ACCESS2_PROTOCOL *Access = nullptr;
  if (Boot->LocateProtocol(&gEfiSmmAccess2ProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Access)) != EFI_SUCCESS ||
      Access == nullptr) {
    return;
  }
  gSmmAccessFound = true;
  auto Note = [Access](uint32_t Operation, EFI_STATUS Status) {
    if (gSmmCallCount == kMostSmmCalls) return;
    gSmmCalls[gSmmCallCount++] = {Operation, uint32_t((Access->OpenState != 0 ? 1 : 0) | (Access->LockState != 0 ? 2 : 0)),
                                  Status};
  };
  auto ReadMap = [&](bool Keep) {
    UINTN Size = 0;
    EFI_STATUS Status = Access->GetCapabilities(Access, &Size, nullptr);
    Note(kSmmGetCapabilities, Status);
    if (Status != EFI_BUFFER_TOO_SMALL || Size == 0 || Size > sizeof(gSmram) - sizeof(gSmram[0])) return;
    // Room for one more region than reported, as the SMM core asks.
    EFI_SMRAM_DESCRIPTOR Map[kMostSmramRegions];
    UINTN Room = Size + sizeof(EFI_SMRAM_DESCRIPTOR);
    Status = Access->GetCapabilities(Access, &Room, Map);
    Note(kSmmGetCapabilities, Status);
    if (Status != EFI_SUCCESS || !Keep) return;
    for (UINTN Index = 0; Index < Room / sizeof(EFI_SMRAM_DESCRIPTOR) && Index < kMostSmramRegions; Index++) {
      gSmram[gSmramCount++] = Map[Index];
    }
  };
  ReadMap(false);
  Note(kSmmOpen, Access->Open(Access));
  Note(kSmmClose, Access->Close(Access));
  Note(kSmmLock, Access->Lock(Access));
  ReadMap(true);
}

VOID SendSurvey(EFI_SYSTEM_TABLE *SystemTable) {
  EFI_BOOT_SERVICES *Boot = SystemTable->BootServices;
  uint8_t *Buffer = nullptr;
  uint8_t *Data = nullptr;
  if (Boot->AllocatePool(EfiBootServicesData, sizeof(Mailbox::Data), reinterpret_cast<VOID **>(&Buffer)) != EFI_SUCCESS ||
      Boot->AllocatePool(EfiBootServicesData, kDataRoom, reinterpret_cast<VOID **>(&Data)) != EFI_SUCCESS) {
    return;
  }
  SurveyWriter Writer(Buffer);
  SurveyHandles(Boot, Writer);
  ForEachVariable(SystemTable, Data, [&Writer](const CHAR16 *Name, const EFI_GUID &Guid, const uint8_t *Bytes, UINTN Size) {
    for (UINTN Index = 0; Index < gVariableCountBefore; Index++) {
      const VariableSeen &Seen = gVariablesBefore[Index];
      if (SameName(Seen.Name, Name) && GuidsEqual(&Seen.Guid, &Guid) && Seen.Size == Size && Seen.Hash == Fnv(Bytes, Size)) {
        return;  // as it was before the boot
      }
    }
    const uint32_t Sizes[2] = {static_cast<uint32_t>(NameBytes(Name)), static_cast<uint32_t>(Size)};
    uint8_t Head[24];
    CopyBytes(Head, &Guid, 16);
    CopyBytes(Head + 16, Sizes, 8);
    Writer.Put(kSurveyVariable, Head, sizeof(Head), Name, Sizes[0], Bytes, Size);
  });
  if (gSmmAccessFound) Writer.Put(kSurveySmmAccess, nullptr, 0);
  for (UINTN Index = 0; Index < gSmmCallCount; Index++) Writer.Put(kSurveySmmCall, &gSmmCalls[Index], sizeof(SurveySmmCall));
  for (UINTN Index = 0; Index < gSmramCount; Index++) Writer.Put(kSurveySmramRegion, &gSmram[Index], sizeof(gSmram[Index]));
  VOID *Heap = nullptr;
  if (Boot->LocateProtocol(&gQorvexHeapProtocolGuid, nullptr, &Heap) == EFI_SUCCESS) {
    const uint64_t Address = reinterpret_cast<uint64_t>(Heap);
    Writer.Put(kSurveyInterface, &gQorvexHeapProtocolGuid, 16, &Address, 8);
  }
  UINTN EventCount = 0;
  const WatchedEvent *Events = WatchedEvents(EventCount);
  for (UINTN Index = 0; Index < EventCount; Index++) {
    if (!Events[Index].Open) continue;
    Writer.Put(kSurveyEvent, &Events[Index].Record, sizeof(SurveyEvent), Events[Index].Waits,
               Events[Index].Record.WaitCount * sizeof(EFI_GUID));
  }
  PutMemoryMap(gMapBefore, kSurveyMemoryBefore, Writer);
  const MemoryMapCopy After = CopyMemoryMap(Boot);
  PutMemoryMap(After, kSurveyMemory, Writer);
  const UINTN Used = Writer.Finish();

  Mailbox &Box = AcquireChannel(kSurvey, ThisProcessor());
  CopyBytes(Box.Data, Buffer, Used);
  Box.Header.DataSize = static_cast<uint32_t>(Used);
  const uint32_t Answer = Exchange();
  ReleaseChannel();
  if (Answer != kResume) Park();
}

}  // namespace ccx_ovmf
