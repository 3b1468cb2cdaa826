#include "sim/platform/BootRunner.h"

#include <cxxabi.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>

#include "sim/cpu/CurrentProcessor.h"
#include "sim/cpu/WorkerPool.h"
#include "sim/devices/PostCodeDecoder.h"
#include "sim/platform/BootTimeline.h"
#include "sim/platform/GuidNames.h"
#include "sim/platform/HostTimeLimit.h"
#include "sim/uefi/HostMapping.h"
#include "sim/platform/DriverLoader.h"
#include "uefi/LoadedImage.h"
#include "uefi/StandardGuids.h"

namespace sim {
namespace {

// The name of a function in the loaded driver image (when a loader knows its symbols) or in this
// executable (linked with exported symbols), else its address.
std::string FunctionName(const void *Address, const DriverLoader *Loader) {
  Dl_info Info{};
  std::string Symbol = Loader != nullptr ? Loader->SymbolAt(reinterpret_cast<uint64_t>(Address)) : std::string();
  if (Symbol.empty() && Address != nullptr && dladdr(Address, &Info) != 0 && Info.dli_sname != nullptr) {
    Symbol = Info.dli_sname;
  }
  if (!Symbol.empty()) return ShortFunctionName(Symbol);
  char Text[32];
  std::snprintf(Text, sizeof(Text), "%p", Address);
  return Text;
}

std::string Utf8Of(const std::u16string &Text) {
  std::string Result;
  for (char16_t Character : Text) Result += Character < 0x80 ? static_cast<char>(Character) : '?';
  return Result;
}

std::vector<MsrChange> CollectMsrChanges(ProcessorSet &Processors) {
  // (msr, before, after) → processors.
  std::map<std::tuple<uint32_t, uint64_t, uint64_t>, std::vector<size_t>> Changes;
  for (size_t Index = 0; Index < Processors.Count(); Index++) {
    std::map<uint32_t, std::pair<uint64_t, uint64_t>> FirstLast;
    for (const MsrWrite &Write : Processors.At(Index).MsrWrites()) {
      auto It = FirstLast.find(Write.Msr);
      if (It == FirstLast.end()) {
        FirstLast[Write.Msr] = {Write.Old, Write.New};
      } else {
        It->second.second = Write.New;
      }
    }
    for (const auto &[Msr, Values] : FirstLast) {
      if (Values.first != Values.second) Changes[{Msr, Values.first, Values.second}].push_back(Index);
    }
  }
  std::vector<MsrChange> Result;
  for (const auto &[Key, Where] : Changes) {
    Result.push_back({std::get<0>(Key), std::get<1>(Key), std::get<2>(Key), Where});
  }
  return Result;
}

}  // namespace

PlatformOptions PlatformOptionsFor(const BootOptions &Options, BootRecord &Record, std::mutex &NotesLock) {
  PlatformOptions Settings;
  Settings.VariableFile = Options.VariableFile;
  Settings.Schedule = Options.Faults;
  Settings.Notes = [&Record, &NotesLock](const std::string &Note) {
    std::lock_guard<std::mutex> Guard(NotesLock);
    Record.Notes.push_back(Note);
  };
  return Settings;
}

std::string ShortFunctionName(const std::string &Symbol) {
  int Status = 0;
  char *Demangled = abi::__cxa_demangle(Symbol.c_str(), nullptr, nullptr, &Status);
  std::string Name = Status == 0 && Demangled != nullptr ? Demangled : Symbol;
  std::free(Demangled);
  // "CcxImage::CcxReadyToBoot(void*, void*)" reads better as "CcxReadyToBoot".
  const size_t Paren = Name.find('(');
  if (Paren != std::string::npos) Name.erase(Paren);
  const size_t Scope = Name.rfind("::");
  if (Scope != std::string::npos) Name.erase(0, Scope + 2);
  return Name;
}

void CollectBootRecord(Platform &Machine, BootRecord &Record, const DriverLoader *Loader) {
  std::map<EFI_HANDLE, std::string> HandleNames;
  for (const InstalledProtocol &Entry : Machine.Core().InstalledProtocols()) {
    auto [It, New] = HandleNames.emplace(Entry.handle, "");
    if (New) It->second = "handle " + std::to_string(HandleNames.size());
    Record.Installed.push_back({It->second, GuidName(Entry.guid)});
  }
  for (const OpenEvent &Event : Machine.Core().OpenEvents()) {
    ArmedEvent Armed;
    Armed.Notify = Event.info.notify != nullptr ? FunctionName(reinterpret_cast<const void *>(Event.info.notify), Loader) : "";
    Armed.Tpl = Event.info.tpl;
    if (Event.info.group) Armed.Group = GuidName(*Event.info.group);
    for (const EFI_GUID &Guid : Event.registeredFor) Armed.WaitsFor.push_back(GuidName(Guid));
    Record.Armed.push_back(Armed);
  }
  const auto Trace = Machine.Devices().PostCodes().Writes();
  for (const PostCodeWrite &Write : Trace) Record.PostCodes.emplace_back(Write.Port, Write.Value);
  const DecodedPostCodes Decoded = DecodePostCodes(Trace);
  for (const TestPointShown &Shown : Decoded.TestPoints) Record.TestPoints.push_back(Shown.Value);
  for (const FatalStopShown &Shown : Decoded.FatalStops) Record.FatalStops.push_back(Shown.Code);
  Record.MsrChanges = CollectMsrChanges(Machine.Processors());
  Record.ProcessorCount = Machine.Processors().Count();
  for (const auto &[Key, Value] : Machine.Core().Variables().All()) {
    Record.Variables.emplace_back(Utf8Of(Key.name) + " " + GuidName(Key.guid), Value.data);
  }
  Record.VariableStoreFailure = Machine.Core().Variables().WriteFailure();
  for (const PcdWrite &Write : Machine.Pcd().Writes()) Record.PcdWrites.emplace_back(Write.Token, Write.Value);
  Record.Uart3F8 = Machine.Devices().UartAt(0x3F8).TransmittedText();
  Record.Legacy2F8 = Machine.Devices().UartAt(0x2F8).TransmittedText();
  for (const CapturedMessage &Message : Decoded.Messages) Record.PortCaptureMessages.push_back(Message.Text);
  Record.HaltWindows = Machine.Hardware().HaltWindows();
  Record.SmmRangeMsrs = CollectSmmRangeMsrs(Machine.Processors());
  Record.Heap = TakeHeapSnapshot(Machine.Core());
  const CoprocessorSettings &Coprocessor = Machine.Description().Coprocessor;
  Record.CoprocessorMutex = {Coprocessor.Present, Coprocessor.Present && Coprocessor.Contends, Coprocessor.Seed,
                             Machine.Devices().Coprocessor().LockStatistics()};
  Record.OptionHooks = Machine.Options().Calls();
  Record.SiblingFaults = Machine.Faults().Outcomes();
  Record.Smis = Machine.Smm().Smis();
  Record.Snp = TakeSnpSnapshot(Machine.Processors(), Machine.Core().Memory());
  Record.S3Tokens = TakeS3TokensSnapshot(Machine, Record.Heap);
  Record.Accesses = Machine.Hardware().Accounting().Phases();
  for (const InstalledEntry &Entry : Record.Installed) {
    if (Entry.Protocol == "gQorvexCcxOcCompleteProtocolGuid") Record.OcCompletions++;
  }
}

EFI_HANDLE InstallLoadedImage(Platform &Machine, EFI_LOADED_IMAGE_PROTOCOL &LoadedImage) {
  LoadedImage.Revision = EFI_LOADED_IMAGE_PROTOCOL_REVISION;
  LoadedImage.SystemTable = Machine.Core().SystemTable();
  LoadedImage.ImageCodeType = EfiBootServicesCode;
  LoadedImage.ImageDataType = EfiBootServicesData;
  EFI_HANDLE Handle = nullptr;
  Machine.Core().InstallProtocol(Handle, gEfiLoadedImageProtocolGuid, &LoadedImage);
  // LoadImage puts the image's device path on its handle too; an image loaded from a buffer with no
  // device path gets the protocol with a null interface, as real firmware's loader installs it.
  Machine.Core().InstallProtocol(Handle, gEfiLoadedImageDevicePathProtocolGuid, nullptr);
  return Handle;
}

void KeepHostResourcesBetweenBoots(bool Keep) {
  KeepHostPagesForReuse(Keep);
  WorkerPool::KeepForReuse(Keep);
  BootControl::KeepBspThreadsForReuse(Keep);
}

BootRecord RunBoot(const Machine &Description, const CCX_DRIVER_IMAGE &Image, const BootOptions &Options) {
  BootRecord Record;
  Record.Image = Options.Loader != nullptr ? Options.Loader->Name() : Image.Name;
  Record.Machine = Description.Name;
  std::mutex NotesLock;
  const PlatformOptions Settings = PlatformOptionsFor(Options, Record, NotesLock);
  // Both stay allocated for good when the boot is abandoned: threads of the machine may still use them.
  auto OwnedControl = std::make_unique<BootControl>();
  BootControl &Control = *OwnedControl;
  auto OwnedMachine = std::make_unique<Platform>(Description, Settings, Control);
  Platform &Machine = *OwnedMachine;
  if (Options.Timeline != nullptr) Options.Timeline->Attach(Machine);
  EFI_LOADED_IMAGE_PROTOCOL LoadedImage{};
  EFI_LOADED_IMAGE_PROTOCOL PeerLoadedImage{};

  auto Arrive = [&](const std::string &What) {
    for (const std::string &Name : Machine.ArrivalsAfter(What)) {
      Record.Steps.push_back("arrival of " + Name);
      Machine.Hardware().Accounting().Enter(Record.Steps.back());
      Machine.InstallSibling(Name);
    }
  };

  // Steps are only added on the BSP thread, which is also the one that raises SMIs.
  Machine.Smm().SetPhaseSource([&Record] { return Record.Steps.empty() ? std::string() : Record.Steps.back(); });

  Record.End = Control.Run([&] {
    ProcessorBinding RunningAs(Machine.Processors().Bsp());
    auto Active = Machine.Core().Activate();
    Machine.PublishHobList();
    Machine.InstallStartingSiblings();

    if (Options.PeerBefore != nullptr) {
      Record.Steps.push_back(std::string("library start-up of ") + Options.PeerBefore->Name);
      Machine.Hardware().Accounting().Enter(Record.Steps.back());
      Options.PeerBefore->Load();
      EFI_HANDLE PeerHandle = InstallLoadedImage(Machine, PeerLoadedImage);
      Options.PeerBefore->LibraryStartup(PeerHandle, Machine.Core().SystemTable());
    }

    // A fresh load of the image: every global at its load-time value.
    EFI_IMAGE_ENTRY_POINT Entry = Image.EntryPoint;
    if (Options.Loader != nullptr) {
      Entry = Options.Loader->Load(Machine, LoadedImage);
    } else {
      Image.Load();
    }
    EFI_HANDLE ImageHandle = InstallLoadedImage(Machine, LoadedImage);

    Record.Steps.push_back("entry");
    Machine.Hardware().Accounting().Enter(Record.Steps.back());
    Record.EntryStatus = Entry(ImageHandle, Machine.Core().SystemTable());
    Arrive("entry");
    if (Options.AfterEntry) Options.AfterEntry(Machine);
    // Drivers dispatched after this one add their entries to the S3 save table.
    const S3PlatformSettings &S3 = Machine.Description().S3;
    if (!S3.Entries.empty() || S3.NextOffset) {
      Record.Steps.push_back("s3_entries");
      for (const std::string &Note : AddOtherDriversS3Entries(Machine)) Settings.Notes(Note);
    }

    Record.Steps.push_back("ready_to_lock");
    Machine.Hardware().Accounting().Enter(Record.Steps.back());
    EFI_HANDLE LockHandle = nullptr;
    Machine.Core().InstallProtocol(LockHandle, gEfiDxeSmmReadyToLockProtocolGuid, nullptr);
    Arrive("ready_to_lock");

    // The SMM core opens SMRAM to load itself, closes it and locks it before anything is booted.
    Record.Steps.push_back("smm_core");
    Machine.Hardware().Accounting().Enter(Record.Steps.back());
    Record.SmmCore = RunSmmCorePhase(Machine.Core());

    Record.Steps.push_back("ready_to_boot");
    Machine.Hardware().Accounting().Enter(Record.Steps.back());
    Machine.Core().SignalEventGroup(gEfiEventReadyToBootGuid);
    Arrive("ready_to_boot");

    // What the callers of the installed services do afterwards is counted apart from the boot.
    Machine.Hardware().Accounting().Enter("after_boot");
    if (Options.AfterBoot) Options.AfterBoot(Machine);
  }, Options.TimeLimit);
  if (Control.Abandoned()) {
    // What the machine holds is not read: its threads may still be running or half-way through.
    // The image stays mapped and trapped for them.
    Record.Abandoned = true;
    static_cast<void>(OwnedMachine.release());
    static_cast<void>(OwnedControl.release());
    return Record;
  }
  // Reading what the boot left takes the machine's locks, which a processor parked in a fault of
  // the image may hold: within the boot's own limit, or the process ends.
  std::optional<HostTimeLimit> Reading;
  if (Options.TimeLimit && Record.End.How == BootEnd::SimulatorError) {
    Reading.emplace(*Options.TimeLimit, "reading what the boot left after its simulator error");
  }
  if (Options.Loader != nullptr) Options.Loader->Unload(Machine, Record);
  CollectBootRecord(Machine, Record, Options.Loader);
  if (Options.CheckState) Record.StateErrors = Options.CheckState(Machine, Record);
  if (Options.Timeline != nullptr) {
    Options.Timeline->Finish(Machine.Hardware().Accounting().Totals(),
                             [&Options](const void *Function) { return FunctionName(Function, Options.Loader); });
  }
  Reading.reset();
  return Record;
}

}  // namespace sim
