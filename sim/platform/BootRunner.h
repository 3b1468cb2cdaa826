// Plays one boot of a driver image on a simulated machine: loads the image (fresh globals), calls
// its entry on the BSP with the system table, then plays the rest of the boot the machine
// describes — late sibling protocols, ready-to-lock, ready-to-boot — and collects what the machine
// shows for the report.
#ifndef SIM_PLATFORM_BOOT_RUNNER_H_
#define SIM_PLATFORM_BOOT_RUNNER_H_

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "driver/ImageDescriptor.h"
#include "sim/machine/Machine.h"
#include "sim/platform/AccessCounters.h"
#include "sim/platform/BootControl.h"
#include "sim/platform/Platform.h"
#include "sim/platform/HeapSnapshot.h"
#include "sim/platform/SmmCorePhase.h"
#include "sim/platform/SnpSnapshot.h"
#include "uefi/LoadedImage.h"
#include "sim/platform/S3TokensPlatform.h"

namespace sim {

class BootTimeline;
class DriverLoader;
struct BootRecord;

struct BootOptions {
  std::optional<std::filesystem::path> VariableFile;
  // Called on the BSP thread once the boot's own steps are done, while the platform is still
  // active: the place for consumers and checks that call the installed services.
  std::function<void(Platform &)> AfterBoot;
  // Called on the BSP thread right after the entry returned (and the siblings waiting for it
  // arrived), before ready-to-lock and the SMM core's phase.
  std::function<void(Platform &)> AfterEntry;
  // A second driver of the same boot (CcxPeerImageDescriptor) whose library start-up runs before
  // the driver's entry, as a driver dispatched earlier would: it publishes the shared heap, which
  // the driver then joins.
  const CCX_DRIVER_IMAGE *PeerBefore = nullptr;
  // Firmware-service failures to inject across the boot (see FaultSchedule); it counts the calls.
  FaultSchedule *Faults = nullptr;
  // Loads the driver from a file for each boot (the delivered PE32+ image) in place of the host
  // image descriptor's copy; the descriptor then only names the debug-output flavour's peer.
  DriverLoader *Loader = nullptr;
  // Records the boot's timeline when given (ccxsim --trace); it must outlive the boot.
  BootTimeline *Timeline = nullptr;
  // Called once the record is taken, while the machine still holds what the boot left: the
  // check of that state against the machine's own expectations (sim::CheckMachineState). Its
  // sentences become the record's StateErrors.
  std::function<std::vector<std::string>(Platform &, const BootRecord &)> CheckState;
  // Host time after which a boot that has not ended is given up as a simulator error (see
  // BootControl::Run); none waits for ever.
  std::optional<std::chrono::seconds> TimeLimit;
};

// The coprocessor's side of the SMM mutex as the boot left it.
struct CoprocessorMutexRecord {
  bool Present = false;
  bool Contends = false;
  uint64_t Seed = 0;  // of the schedule it contends on
  HcuMutexStatistics Statistics;
};

struct InstalledEntry {
  std::string Handle;
  std::string Protocol;
};

struct ArmedEvent {
  std::string Notify;
  uint64_t Tpl = 0;
  std::string Group;
  std::vector<std::string> WaitsFor;
};

struct MsrChange {
  uint32_t Msr = 0;
  uint64_t Before = 0;
  uint64_t After = 0;
  // The processors that show this change; all of them when it is the same everywhere.
  std::vector<size_t> Processors;
};

struct BootRecord {
  std::string Image;
  std::string Machine;
  std::optional<uint64_t> EntryStatus;
  BootEnd End;
  // The boot was given up with threads of the machine that could not be stopped (see
  // BootControl::Abandoned): nothing below the steps was read, and the process should end soon
  // without joining threads or unwinding the machine.
  bool Abandoned = false;
  std::vector<std::string> Steps;  // the boot phases in the order they ran
  std::vector<InstalledEntry> Installed;
  std::vector<ArmedEvent> Armed;
  std::vector<std::pair<uint16_t, uint32_t>> PostCodes;  // (port, value)
  std::vector<uint32_t> TestPoints;
  std::vector<uint32_t> FatalStops;
  std::vector<MsrChange> MsrChanges;
  size_t ProcessorCount = 0;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> Variables;  // "Name GUID", data
  std::vector<std::pair<uint64_t, uint64_t>> PcdWrites;
  // What each debug channel received, as raw bytes: the UART at 0x3F8, the legacy serial port at
  // 0x2F8, and the whole messages framed by the port-capture markers on port 0x80.
  std::string Uart3F8;
  std::string Legacy2F8;
  std::vector<std::string> PortCaptureMessages;
  // The values a halted fatal stop scrolled across port 0x80 before the boot was ended.
  std::vector<uint32_t> HaltWindows;
  std::vector<std::string> Notes;  // the simulator's own diagnostics
  // Why the variable store file could not be written during the boot (the driver was answered
  // EFI_DEVICE_ERROR and the change undone); nothing when every write worked.
  std::optional<std::string> VariableStoreFailure;
  // The SMM core's phase, the SMM range registers of every processor after it, the shared heap's
  // buffers and the coprocessor mutex.
  SmmCorePhaseRecord SmmCore;
  std::vector<SmmRangeMsrGroup> SmmRangeMsrs;
  HeapSnapshot Heap;
  CoprocessorMutexRecord CoprocessorMutex;
  std::vector<OptionHookCall> OptionHooks;  // what the option service received, in order
  // Every sibling fault the machine injected in this boot, with how often it fired.
  std::vector<FaultOutcome> SiblingFaults;
  // The software SMIs the SMM control protocol raised, each with the phase it came in, and how
  // many QORVEX_CCX_OC_COMPLETE_PROTOCOL instances the driver installed.
  std::vector<SoftwareSmi> Smis;
  size_t OcCompletions = 0;
  // The SNP registers of every processor and the reverse-map table they describe.
  SnpSnapshot Snp;
  // The token store before and after, the SMU's messages, every processor's P-state 0 and the S3
  // hand-off as the SMM side saw it.
  S3TokensRecord S3Tokens;
  // The hardware accesses of each boot phase (the names of Steps) and of each service call scope
  // opened after the boot, in the order they first ran.
  std::vector<AccessPhase> Accesses;
  // For a boot of the delivered image: where it was loaded and the traps it took, by kind.
  uint64_t ImageBase = 0;
  std::vector<std::pair<std::string, uint64_t>> Traps;
  // For a boot inside real firmware: the firmware's memory map before the image was loaded and
  // after the boot, which stand for the simulated core's map (empty in a simulator boot).
  std::vector<MemoryRange> FirmwareMapBefore;
  std::vector<MemoryRange> FirmwareMapAfter;
  // And the pages the image took from it and still holds, which real firmware may hand out of a
  // stretch its map already showed as their type.
  std::vector<MemoryRange> FirmwareImagePages;
  // Whether the events the driver left armed could be seen (real firmware shows them only when
  // the package watched the driver create them).
  bool EventsSeen = true;
  // How the machine's state after the boot differs from what the machine calls for, one sentence
  // each (BootOptions::CheckState); empty when nothing checked it.
  std::vector<std::string> StateErrors;
};

// Boots Image on Description once. Throws MachineError or std::runtime_error when the platform
// itself can't be built.
BootRecord RunBoot(const Machine &Description, const CCX_DRIVER_IMAGE &Image, const BootOptions &Options);

// A function's symbol as the report names it: demangled, without its scope and parameters
// ("CcxImage::CcxReadyToBoot(void*, void*)" is "CcxReadyToBoot").
std::string ShortFunctionName(const std::string &Symbol);

// The platform's settings for a boot of Options whose simulator notes go into Record (guarded by
// NotesLock, since APs may add them).
PlatformOptions PlatformOptionsFor(const BootOptions &Options, BootRecord &Record, std::mutex &NotesLock);

// Fills Record with what the machine shows once a boot is over: protocols and events, POST codes,
// MSR changes, variables, the heap, the SMM, SNP and S3 state, the accesses of each phase. Loader
// names the image's functions (null: the host build's symbols).
void CollectBootRecord(Platform &Machine, BootRecord &Record, const DriverLoader *Loader);

// For processes that boot machine after machine (benchmarks, ccxsim's runs of boots): keeps the
// host memory, AP worker threads and BSP thread of a boot for the next one instead of giving them
// back to the host. Off (the default) gives back everything kept. What the driver sees is the same
// either way; a process that places host mappings of its own in simulated DRAM must leave it off.
void KeepHostResourcesBetweenBoots(bool Keep);

// Installs an image's loaded-image record, as the core does when it loads a driver, on a new
// handle, and returns that handle for the image's entry.
EFI_HANDLE InstallLoadedImage(Platform &Machine, EFI_LOADED_IMAGE_PROTOCOL &LoadedImage);

}  // namespace sim

#endif  // SIM_PLATFORM_BOOT_RUNNER_H_
