// The platform package's entry: run from the UEFI shell of OVMF, it opens the channel to ccxsim,
// takes the delivered image's bytes from it, loads the image with LoadImage, makes its privileged
// instructions trap, starts it, and tells ccxsim how the entry ended. It never returns: ccxsim
// stops the machine once it has the boot, with the trap handlers still in place.
#include "firmware/ovmf/Channel.h"
#include "firmware/ovmf/EventWatch.h"
#include "firmware/ovmf/Proxies.h"
#include "firmware/ovmf/Survey.h"
#include "firmware/ovmf/Traps.h"
#include "uefi/LoadedImage.h"
#include "uefi/MpServices.h"
#include "uefi/StandardGuids.h"
#include "uefi/SystemTable.h"

namespace ccx_ovmf {
namespace {

using namespace ccx_channel;

constexpr uint32_t kBsp = 0;

// "what: 0x8000000000000003" into Text.
void Describe(char *Text, const char *What, EFI_STATUS Status) {
  unsigned Length = 0;
  while (What[Length] != '\0' && Length < 80) {
    Text[Length] = What[Length];
    Length++;
  }
  const char *Digits = "0123456789ABCDEF";
  Text[Length++] = ':';
  Text[Length++] = ' ';
  Text[Length++] = '0';
  Text[Length++] = 'x';
  for (int Shift = 60; Shift >= 0; Shift -= 4) Text[Length++] = Digits[(Status >> Shift) & 0xF];
  Text[Length] = '\0';
}

// Tells the host what failed; the host ends the run, so the package never returns.
[[noreturn]] void Fail(const char *What, EFI_STATUS Status) {
  char Text[128];
  Describe(Text, What, Status);
  SendText(kFailure, kBsp, Text);
  Park();
}

VOID EFIAPI NothingToDo(EFI_EVENT, VOID *) {}

// The outside table builders run in ccxsim and call the driver's services: each call comes as the
// answer kCallGuest, runs here on the BSP, and its result goes back as kCallDone.
VOID ServeHostCalls(EFI_BOOT_SERVICES *Boot) {
  using Function = UINT64(EFIAPI *)(UINT64, UINT64, UINT64, UINT64, UINT64, UINT64, UINT64, UINT64, UINT64, UINT64);
  Mailbox *Box = &AcquireChannel(kAfterBoot, kBsp);
  Box->Header.Value = reinterpret_cast<uint64_t>(Boot);
  uint32_t Answer = Exchange();
  while (Answer == kCallGuest) {
    const auto Called = reinterpret_cast<Function>(Box->Header.Value);
    UINT64 Arguments[kCallArguments];
    for (uint32_t Index = 0; Index < kCallArguments; Index++) {
      __builtin_memcpy(&Arguments[Index], Box->Data + 8 * Index, 8);
    }
    // The function may trap or call siblings, which takes the channel: it runs with it released.
    ReleaseChannel();
    const UINT64 Result = Called(Arguments[0], Arguments[1], Arguments[2], Arguments[3], Arguments[4], Arguments[5],
                                 Arguments[6], Arguments[7], Arguments[8], Arguments[9]);
    Box = &AcquireChannel(kCallDone, kBsp);
    Box->Header.Value = Result;
    Answer = Exchange();
  }
  ReleaseChannel();
  if (Answer != kResume) Park();
}

// Signals an event group as the DXE core's boot manager does: an event in the group, signalled
// and closed.
EFI_STATUS SignalGroup(EFI_BOOT_SERVICES *Boot, EFI_GUID *Group) {
  EFI_EVENT Event = nullptr;
  EFI_STATUS Status = Boot->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, NothingToDo, nullptr, Group, &Event);
  if (EFI_ERROR(Status)) return Status;
  Status = Boot->SignalEvent(Event);
  Boot->CloseEvent(Event);
  return Status;
}

}  // namespace
}  // namespace ccx_ovmf

extern "C" EFI_STATUS EFIAPI CcxOvmfPlatformEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  using namespace ccx_ovmf;
  using namespace ccx_channel;
  EFI_BOOT_SERVICES *Boot = SystemTable->BootServices;

  EFI_PHYSICAL_ADDRESS MailboxAddress = 0;
  EFI_STATUS Status = Boot->AllocatePages(AllocateAnyPages, EfiBootServicesData, kMailboxSize / 4096, &MailboxAddress);
  if (EFI_ERROR(Status)) return Status;  // no channel yet: the host's time limit ends the run
  OpenChannel(reinterpret_cast<Mailbox *>(MailboxAddress));

  EFI_MP_SERVICES_PROTOCOL *Mp = nullptr;
  Status = Boot->LocateProtocol(&gEfiMpServiceProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Mp));
  if (EFI_ERROR(Status)) Fail("LocateProtocol(MP services)", Status);
  UINTN Count = 0, Enabled = 0;
  Status = Mp->GetNumberOfProcessors(Mp, &Count, &Enabled);
  if (EFI_ERROR(Status)) Fail("GetNumberOfProcessors", Status);
  for (UINTN Number = 0; Number < Count; Number++) {
    EFI_PROCESSOR_INFORMATION Info;
    Status = Mp->GetProcessorInfo(Mp, Number, &Info);
    if (EFI_ERROR(Status)) Fail("GetProcessorInfo", Status);
    SetProcessorNumber(static_cast<uint32_t>(Info.ProcessorId), static_cast<uint32_t>(Number));
  }
  EFI_CPU_ARCH_PROTOCOL *Cpu = nullptr;
  Status = Boot->LocateProtocol(&gEfiCpuArchProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Cpu));
  if (EFI_ERROR(Status)) Fail("LocateProtocol(CPU architectural protocol)", Status);

  EFI_PHYSICAL_ADDRESS MachineBlock = 0;
  Status = Boot->AllocatePages(AllocateAnyPages, EfiRuntimeServicesData, kMachineBlockSize / 4096, &MachineBlock);
  if (EFI_ERROR(Status)) Fail("AllocatePages(the machine's block)", Status);

  // What to trap, and the image's size.
  Mailbox &Hello = AcquireChannel(kHello, kBsp);
  Hello.Header.Value = Count;
  Hello.Header.FaultAddress = MachineBlock;
  if (Exchange() != kResume) Park();
  HelloAnswer Answer;
  Boot->CopyMem(&Answer, Hello.Data, sizeof(Answer));
  const UINTN ListSize = UINTN(Answer.SiteCount) * 4 + UINTN(Answer.WindowCount) * sizeof(AddressWindow);
  uint8_t *Lists = nullptr;
  Status = Boot->AllocatePool(EfiBootServicesData, ListSize + 1, reinterpret_cast<VOID **>(&Lists));
  if (EFI_ERROR(Status)) {
    ReleaseChannel();
    Fail("AllocatePool(trap lists)", Status);
  }
  Boot->CopyMem(Lists, Hello.Data + sizeof(Answer), ListSize);
  ReleaseChannel();
  const uint32_t *Sites = reinterpret_cast<const uint32_t *>(Lists);
  const AddressWindow *Windows = reinterpret_cast<const AddressWindow *>(Lists + UINTN(Answer.SiteCount) * 4);

  VOID *File = nullptr;
  Status = Boot->AllocatePool(EfiBootServicesData, Answer.ImageSize, &File);
  if (EFI_ERROR(Status)) Fail("AllocatePool(image file)", Status);
  Mailbox &Bytes = AcquireChannel(kImageBytes, kBsp);
  Bytes.Header.Value = reinterpret_cast<uint64_t>(File);
  const uint32_t Given = Exchange();
  ReleaseChannel();
  if (Given != kResume) Park();

  // What the firmware holds before the image is loaded, for the survey after the boot.
  Status = TakeBaseline(SystemTable);
  if (EFI_ERROR(Status)) Fail("taking the firmware's state before the boot", Status);

  EFI_HANDLE Image = nullptr;
  Status = Boot->LoadImage(FALSE, ImageHandle, nullptr, File, Answer.ImageSize, &Image);
  if (EFI_ERROR(Status)) Fail("LoadImage", Status);
  EFI_LOADED_IMAGE_PROTOCOL *Loaded = nullptr;
  Status = Boot->HandleProtocol(Image, &gEfiLoadedImageProtocolGuid, reinterpret_cast<VOID **>(&Loaded));
  if (EFI_ERROR(Status)) Fail("HandleProtocol(loaded image)", Status);
  const uint64_t Base = reinterpret_cast<uint64_t>(Loaded->ImageBase);
  WatchImageEvents(SystemTable, Base, Loaded->ImageSize);

  Status = InstallTrapHandlers(Cpu, Base);
  if (EFI_ERROR(Status)) Fail("RegisterInterruptHandler", Status);
  ProtectWindows(Cpu, Windows, Answer.WindowCount);
  RewriteSites(Base, Sites, Answer.SiteCount);

  Status = AddMachineHobs(SystemTable);
  if (EFI_ERROR(Status)) Fail("adding the machine's HOBs", Status);
  Status = Arrive(Boot, "start");
  if (EFI_ERROR(Status)) Fail("installing the sibling protocols", Status);

  // The boot as ccxsim boot plays it: the entry, then the protocols and events that follow it.
  SendText(kStep, kBsp, "entry");
  const EFI_STATUS EntryStatus = Boot->StartImage(Image, nullptr, nullptr);
  Arrive(Boot, "entry");
  SendText(kStep, kBsp, "ready_to_lock");
  EFI_HANDLE LockHandle = nullptr;
  Boot->InstallProtocolInterface(&LockHandle, &gEfiDxeSmmReadyToLockProtocolGuid, EFI_NATIVE_INTERFACE, nullptr);
  Arrive(Boot, "ready_to_lock");
  SendText(kStep, kBsp, "smm_core");
  RunSmmCorePhase(Boot);
  SendText(kStep, kBsp, "ready_to_boot");
  SignalGroup(Boot, &gEfiEventReadyToBootGuid);
  Arrive(Boot, "ready_to_boot");
  SendSurvey(SystemTable);
  ServeHostCalls(Boot);

  Mailbox &Finish = AcquireChannel(kFinish, kBsp);
  Finish.Header.Value = EntryStatus;
  Exchange();
  ReleaseChannel();
  // The host has what it needs and stops the machine; the handlers stay in place until then.
  Park();
}
