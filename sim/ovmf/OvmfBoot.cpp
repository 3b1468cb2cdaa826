#include "sim/ovmf/OvmfBoot.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "sim/HexText.h"
#include "sim/cpu/CurrentProcessor.h"
#include "sim/files/TemporaryPaths.h"
#include "sim/image/PeSymbols.h"
#include "sim/ovmf/ChannelLink.h"
#include "sim/ovmf/GuestCalls.h"
#include "sim/ovmf/GuestMemory.h"
#include "sim/ovmf/RemoteRequests.h"

namespace sim {

BootRecord RunOvmfBoot(const Machine &Description, const OvmfImage &Image, const OvmfSettings &Settings,
                       const BootOptions &Options) {
  CheckOvmfSetup(Settings);
  BootRecord Record;
  Record.Image = Image.Name;
  Record.Machine = Description.Name;
  std::mutex NotesLock;
  BootControl Control;
  Platform Machine(Description, PlatformOptionsFor(Options, Record, NotesLock), Control);

  RemoteImage Remote;
  Remote.File = Image.File;
  Remote.SizeOfImage = Image.Info->SizeOfImage;
  Remote.Sites = FindTrapSites(Image.File, *Image.Info);
  Remote.Windows = Machine.Devices().Mmio().ClaimedRanges();

  // Removed with everything in it when the boot is over, or when a signal ends the run.
  const ScratchFolder Scratch("ccxsim-ovmf");
  const QemuFiles Files{Scratch.Path()};
  const size_t Processors = Machine.Processors().Count();
  const uint64_t Ram = GuestRamBytes(Processors);
  GuestMemory Memory(Files.Ram(), Ram);
  ChannelLink Link(Files.Socket());
  QemuProcess Qemu(Settings, Files, Processors, Ram);
  RemoteRequests Requests(Machine, Remote, Memory, Record.Steps);
  // The SMM side of the S3 hand-off reads the driver's table where the firmware put it, and each
  // software SMI is told with the boot step it came in.
  const MemoryReader ReadGuest = [&Memory](uint64_t Address, uint64_t Length, void *Out) {
    if (!Memory.Holds(Address, Length)) return false;
    std::memcpy(Out, Memory.At(Address, Length), Length);
    return true;
  };
  Machine.Smm().SetMemoryReader(ReadGuest);
  Machine.Smm().SetPhaseSource([&Record] { return Record.Steps.empty() ? std::string() : Record.Steps.back(); });
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(Settings.TimeLimitSeconds);

  // The outside table builders' calls of the driver's services run in the guest, while the package
  // waits after the boot.
  GuestCalls Calls(Link, Qemu, Memory, Deadline, Requests);
  std::vector<MemoryRange> MapAfterCalls;
  Requests.OnAfterBoot([&](ccx_channel::Mailbox &Pending) {
    const uint64_t BootServices = Pending.Header.Value;
    const uint64_t MapScratch = Requests.MachineBlock() + ccx_channel::kMachineBlockSize / 2;
    Platform::FirmwareView View;
    View.MemoryMap = [&Calls, BootServices, MapScratch] { return Calls.FirmwareMemoryMap(BootServices, MapScratch); };
    View.ImagePages = [&Requests] { return Requests.ImagePages(); };
    View.Readable = [&Memory](uint64_t Address, uint64_t Length) { return Memory.Holds(Address, Length); };
    Machine.SetFirmwareView(View);
    if (!Requests.Survey()) throw std::runtime_error("the platform package asked for calls before its survey");
    Calls.InstallDriverProtocols(Machine.Core(), *Requests.Survey(), Requests.ImageBase(), Image.Info->SizeOfImage);
    Machine.SetDriverFunctionCaller([&Calls](uint64_t Function, const std::array<uint64_t, 10> &Arguments) {
      return Calls.CallGuest(Function, Arguments.data());
    });
    Calls.Serve(Pending, [&] {
      Machine.Hardware().Accounting().Enter("after_boot");
      if (Options.AfterBoot) Options.AfterBoot(Machine);
      // What the builders' calls took (the PCC region's ACPI NVS pages) is in the map from now on.
      MapAfterCalls = Machine.MemoryMapNow();
    });
    Machine.SetDriverFunctionCaller(nullptr);
    Machine.SetFirmwareView(std::nullopt);
  });

  Record.End = Control.Run([&] {
    ProcessorBinding RunningAs(Machine.Processors().Bsp());
    auto Active = Machine.Core().Activate();
    Link.Serve(Qemu, Memory, Deadline, [&Requests](ccx_channel::Mailbox &Box) { return Requests.Answer(Box); });
  });
  Qemu.Stop();
  Record.EntryStatus = Requests.EntryStatus();
  Record.ImageBase = Requests.ImageBase();
  for (size_t Kind = 0; Kind < kTrapKindCount; Kind++) {
    if (Requests.Counts()[Kind] != 0) {
      Record.Traps.emplace_back(TrapKindName(static_cast<TrapKind>(Kind)), Requests.Counts()[Kind]);
    }
  }
  CollectBootRecord(Machine, Record, nullptr);
  // The firmware's own state (protocols, variables, the SMM core's phase, the heap) is OVMF's, as
  // the package found it; what follows from the heap is taken again from there.
  if (Requests.Survey()) {
    const std::map<uint32_t, std::string> Functions = ReadPeFunctionSymbols(Image.File, *Image.Info);
    const uint64_t Base = Requests.ImageBase();
    const auto NameOf = [&Functions, Base](uint64_t Address) {
      const auto Found = Address >= Base ? Functions.find(static_cast<uint32_t>(Address - Base)) : Functions.end();
      return Found != Functions.end() ? ShortFunctionName(Found->second) : Hex(Address);
    };
    Record.FirmwareMapAfter = MapAfterCalls;
    ApplyFirmwareSurvey(*Requests.Survey(), Memory, NameOf, Record);
    Record.S3Tokens = TakeS3TokensSnapshot(Machine, Record.Heap, ReadGuest);
    Record.FirmwareImagePages = Requests.ImagePages();
  }
  if (Options.CheckState) Record.StateErrors = Options.CheckState(Machine, Record);
  return Record;
}

}  // namespace sim
