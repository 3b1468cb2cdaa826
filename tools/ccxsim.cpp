// ccxsim: boots the core-complex driver on a simulated machine and reports what happened, and
// compares two such reports field by field.
//
//   ccxsim boot [--machine FILE] [--boots N] [--var-store FILE] [--out DIR] [--debug-output] [--peer-driver]
//               [--cost-model FILE] [--image FILE [--gdb]] [--trace FILE] [--trace-svg FILE] [--time-limit S]
//   ccxsim diff [--ignore PATTERN]... [--ignore-file FILE]... [--preset NAME]... A.json B.json
//   ccxsim machine FILE
//   ccxsim tables DIR|FILE
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/ImageDescriptor.h"
#include "sim/files/LockFile.h"
#include "sim/files/TemporaryPaths.h"
#include "sim/machine/JsonFields.h"
#include "sim/image/DeliveredImage.h"
#include "sim/ovmf/OvmfBoot.h"
#include "sim/machine/Machine.h"
#include "sim/machine/MachineConsistency.h"
#include "sim/oracle/MachineStateOracle.h"
#include "sim/platform/BootRunner.h"
#include "sim/platform/BootTimeline.h"
#include "sim/uefi/VariableStoreFile.h"
#include "tools/AccessReport.h"
#include "tools/AcpiReport.h"
#include "tools/AffinityTablesReport.h"
#include "tools/BootExpectation.h"
#include "tools/DiffCommand.h"
#include "tools/GdbSession.h"
#include "tools/MachineStateReport.h"
#include "tools/OutputFolder.h"
#include "tools/PlatformTablesReport.h"
#include "tools/ProcessorMap.h"
#include "tools/Report.h"
#include "tools/S3TokensReport.h"
#include "tools/ServiceCalls.h"
#include "tools/TablesCommand.h"
#include "tools/TraceEventJson.h"
#include "tools/TraceSvg.h"

namespace {

const char *kUsage =
    "usage: ccxsim boot [--machine FILE] [--boots N] [--var-store FILE] [--out DIR] [--debug-output] [--peer-driver]\n"
    "                   [--cost-model FILE] [--image FILE [--firmware ovmf]] [--trace FILE] [--trace-svg FILE] [--processors]\n"
    "                   [--time-limit SECONDS]\n"
    "  --machine FILE    machine description (JSON); the built-in default machine without it\n"
    "  --boots N         boot N times in a row, keeping the variable store between boots (default 1)\n"
    "  --var-store FILE  keep non-volatile variables in FILE, across boots and runs\n"
    "  --out DIR         also write the report as DIR/report.json, and the tables the consumers built:\n"
    "                    DIR/acpi/PCCT.dat, DIR/acpi/HEST.dat, DIR/smbios.bin,\n"
    "                    DIR/acpi/SRAT.dat, DIR/acpi/QRAT.dat, DIR/acpi/SSDT-CPC.dsl (and .aml with iasl)\n"
    "  --debug-output    boot the driver built with debug output, so its messages reach the serial port\n"
    "  --peer-driver     run a second driver's library start-up before the driver, so that the driver joins\n"
    "                    the shared heap that driver publishes\n"
    "  --cost-model FILE estimate the time on hardware with the latencies in FILE (default: the built-in\n"
    "                    copy of data/latencies.json)\n"
    "  --image FILE      boot the delivered PE32+ driver image (build/firmware/CcxRellDxe.efi; with\n"
    "                    --debug-output the CcxRellDxeDebug.efi beside it) instead of the host build: it runs\n"
    "                    natively, with the instructions a process may not execute trapped and emulated\n"
    "  --trace FILE      write every boot's timeline to FILE in the Trace Event Format (open it in\n"
    "                    ui.perfetto.dev or chrome://tracing): phases, notify functions, service calls and\n"
    "                    AP procedures, in the estimated time of the cost model, with their access counts\n"
    "  --trace-svg FILE  draw the same timeline as an SVG picture\n"
    "  --firmware ovmf   with --image: boot the image inside OVMF under QEMU (one virtual processor per\n"
    "                    simulated one), its privileged instructions trapped and answered by this machine\n"
    "                    over a channel (docs/image-boot.md); CcxOvmfPlatform.efi must lie beside the image\n"
    "  --gdb             with --image: run this boot under gdb, with the image's symbols loaded where it is\n"
    "                    placed and its trapped instructions passed on silently (docs/image-boot.md)\n"
    "  --time-limit S    give up a boot that has not ended after S seconds of host time (default 300), as a\n"
    "                    simulator error: an image caught in a loop that never ends cannot hang the run\n"
    "  --processors      print the map from processor index to socket, die, complex die, complex, core,\n"
    "                    thread and APIC ID (report.json always holds it, as \"processors\")\n"
    "  exit status: 0 every boot showed what its machine expects (\"expect\"), 1 the driver's answers differ\n"
    "  from the machine, 2 usage or machine-file error, or a variable store or --out folder that cannot be\n"
    "  used or that another run holds, 3 a boot did not show what was expected, 4 a boot could not run or did\n"
    "  not run to its end, or the variable store could not be written during a boot\n";

const char *kMachineUsage =
    "usage: ccxsim machine FILE\n"
    "  print the machine description FILE amounts to, the descriptions it extends applied under it\n";

struct Arguments {
  std::string MachineFile;
  uint64_t Boots = 1;
  std::string VarStore;
  std::string OutDir;
  bool DebugOutput = false;
  bool PeerDriver = false;
  std::string CostModelFile;
  std::string ImageFile;
  std::string TraceFile;
  std::string TraceSvgFile;
  bool ProcessorMap = false;
  uint64_t TimeLimit = 300;  // seconds of host time a boot may take
  bool Gdb = false;
  std::string Firmware;  // "ovmf": boot the image inside OVMF under QEMU
  std::vector<std::string> BootArguments;  // every option but --gdb, for the run under gdb
};

[[noreturn]] void UsageError(const std::string &What) {
  std::cerr << "ccxsim: " << What << "\n" << kUsage << kMachineUsage << ccxsim::kDiffUsage << ccxsim::kTablesUsage;
  std::exit(2);
}

Arguments Parse(int argc, char **argv) {
  if (argc < 2) UsageError("no command given");
  const std::string Command = argv[1];
  if (Command == "help" || Command == "--help" || Command == "-h") {
    std::cout << kUsage << kMachineUsage << ccxsim::kDiffUsage << ccxsim::kTablesUsage;
    std::exit(0);
  }
  if (Command != "boot") UsageError("unknown command \"" + Command + "\"");
  Arguments Result;
  for (int Index = 2; Index < argc; Index++) {
    const int First = Index;
    const std::string Option = argv[Index];
    // An empty value would read as the option not given (no machine file, no output folder).
    auto Value = [&]() -> std::string {
      if (Index + 1 >= argc) UsageError(Option + " needs a value");
      if (argv[Index + 1][0] == '\0') UsageError(Option + " needs a value, not an empty one");
      return argv[++Index];
    };
    if (Option == "--machine") {
      Result.MachineFile = Value();
    } else if (Option == "--boots") {
      const std::string Text = Value();
      if (!sim::ParseUnsigned(Text, Result.Boots) || Result.Boots == 0 || Result.Boots > 1000) {
        UsageError("--boots takes a number from 1 to 1000, not \"" + Text + "\"");
      }
    } else if (Option == "--var-store") {
      Result.VarStore = Value();
    } else if (Option == "--out") {
      Result.OutDir = Value();
    } else if (Option == "--debug-output") {
      Result.DebugOutput = true;
    } else if (Option == "--peer-driver") {
      Result.PeerDriver = true;
    } else if (Option == "--cost-model") {
      Result.CostModelFile = Value();
    } else if (Option == "--image") {
      Result.ImageFile = Value();
    } else if (Option == "--trace") {
      Result.TraceFile = Value();
    } else if (Option == "--trace-svg") {
      Result.TraceSvgFile = Value();
    } else if (Option == "--time-limit") {
      const std::string Text = Value();
      if (!sim::ParseUnsigned(Text, Result.TimeLimit) || Result.TimeLimit == 0 || Result.TimeLimit > 86400) {
        UsageError("--time-limit takes a number of seconds from 1 to 86400, not \"" + Text + "\"");
      }
    } else if (Option == "--processors") {
      Result.ProcessorMap = true;
    } else if (Option == "--firmware") {
      Result.Firmware = Value();
      if (Result.Firmware != "ovmf") UsageError("--firmware takes ovmf, not \"" + Result.Firmware + "\"");
    } else if (Option == "--gdb") {
      Result.Gdb = true;
      continue;
    } else {
      UsageError("unknown option \"" + Option + "\"");
    }
    Result.BootArguments.insert(Result.BootArguments.end(), argv + First, argv + Index + 1);
  }
  return Result;
}

// The bytes each debug channel received, unchanged, one file per channel and boot.
void WriteRawChannels(const std::filesystem::path &Dir, uint64_t Boot, const sim::BootRecord &Record) {
  std::string Capture;
  for (const std::string &Message : Record.PortCaptureMessages) Capture += Message;
  const std::string *Received[] = {&Record.Uart3F8, &Record.Legacy2F8, &Capture};
  for (size_t Channel = 0; Channel < std::size(ccxsim::kChannelFiles); Channel++) {
    ccxsim::WriteOutputFile(Dir / ccxsim::ChannelFile(Boot, ccxsim::kChannelFiles[Channel]), *Received[Channel]);
  }
}

// ccxsim machine FILE: what a description that extends others amounts to, checked as a boot checks it.
int RunMachineCommand(int argc, char **argv) {
  if (argc != 3) UsageError("machine takes one description file");
  if (argv[2][0] == '\0') UsageError("machine takes a description file, not an empty name");
  try {
    std::cout << sim::MergedMachineText(argv[2]);
    // On the error stream, so that the printed description stays a file of its own.
    for (const std::string &Warning : sim::ConsistencyWarningLines(sim::LoadMachineFile(argv[2]))) {
      std::cerr << Warning << "\n";
    }
  } catch (const std::exception &Error) {
    std::cerr << "ccxsim: " << Error.what() << "\n";
    return 2;
  }
  return 0;
}

// The image file to boot for --image. With --debug-output that is the image built with debug output,
// which the firmware build writes beside the delivered one (CcxRellDxe.efi, CcxRellDxeDebug.efi);
// Note then says which it is. Throws std::runtime_error naming the file to pass when there is none.
struct ImageChoice {
  std::filesystem::path File;
  std::string Note;
};
ImageChoice ChooseImageFile(const std::filesystem::path &Given, bool DebugOutput) {
  const std::string Stem = Given.stem().string();
  if (!DebugOutput || Stem.ends_with("Debug")) return {Given, ""};
  const std::filesystem::path Debug = Given.parent_path() / (Stem + "Debug" + Given.extension().string());
  std::error_code Ignored;
  if (!std::filesystem::is_regular_file(Debug, Ignored)) {
    throw std::runtime_error("--debug-output needs the image built with debug output, and " + Debug.string() +
                             " does not exist: pass the debug image with --image (the firmware build writes "
                             "CcxRellDxeDebug.efi beside CcxRellDxe.efi)");
  }
  return {Debug, " (the debug-output build beside " + Given.filename().string() + ", for --debug-output)"};
}

// Where the platform package and OVMF's files are: the package beside the image (the firmware build
// writes both), OVMF where Debian's ovmf puts it unless OVMF_CODE and OVMF_VARS say otherwise.
sim::OvmfSettings OvmfSettingsFor(const std::filesystem::path &Image) {
  sim::OvmfSettings Settings;
  Settings.Platform = Image.parent_path() / "CcxOvmfPlatform.efi";
  if (const char *Code = std::getenv("OVMF_CODE")) Settings.Code = Code;
  if (const char *Vars = std::getenv("OVMF_VARS")) Settings.Vars = Vars;
  // The run's time limit in seconds (CCXSIM_OVMF_SECONDS; 150 unless said otherwise).
  uint64_t Seconds = 0;
  if (const char *Limit = std::getenv("CCXSIM_OVMF_SECONDS"); Limit != nullptr && sim::ParseUnsigned(Limit, Seconds) &&
      Seconds > 0 && Seconds <= 3600) {
    Settings.TimeLimitSeconds = static_cast<unsigned>(Seconds);
  }
  return Settings;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc >= 2 && std::string(argv[1]) == "diff") {
    return ccxsim::RunDiffCommand(std::vector<std::string>(argv + 2, argv + argc), std::cout, std::cerr);
  }
  if (argc >= 2 && std::string(argv[1]) == "machine") return RunMachineCommand(argc, argv);
  if (argc >= 2 && std::string(argv[1]) == "tables") {
    return ccxsim::RunTablesCommand(std::vector<std::string>(argv + 2, argv + argc), std::cout, std::cerr);
  }
  const Arguments Args = Parse(argc, argv);
  if (Args.Gdb) {
    if (Args.ImageFile.empty()) UsageError("--gdb debugs the delivered image: give it with --image FILE");
    return ccxsim::ExecBootUnderGdb(Args.BootArguments, std::cerr);
  }
  if (!Args.Firmware.empty() && Args.ImageFile.empty()) {
    UsageError("--firmware ovmf boots the delivered image: give it with --image FILE");
  }
  // Each boot of a run asks for the same simulated DRAM and threads as the one before.
  sim::KeepHostResourcesBetweenBoots(true);
  sim::Machine Machine;
  std::unique_ptr<sim::DeliveredImage> Delivered;
  ImageChoice DeliveredFile;
  try {
    if (!Args.ImageFile.empty()) {
      DeliveredFile = ChooseImageFile(Args.ImageFile, Args.DebugOutput);
      Delivered = std::make_unique<sim::DeliveredImage>(DeliveredFile.File);
    }
    Machine = Args.MachineFile.empty() ? sim::DefaultMachine() : sim::LoadMachineFile(Args.MachineFile);
    if (!Args.CostModelFile.empty()) ccxsim::UseCostModel(sim::LoadCostModelFile(Args.CostModelFile));
  } catch (const std::exception &Error) {
    std::cerr << "ccxsim: " << Error.what() << "\n";
    return 2;
  }
  const CCX_DRIVER_IMAGE &Image = Args.DebugOutput ? CcxImageDebugDescriptor : CcxImageDescriptor;

  // What the run writes, before any boot: the output folder (locked, the previous run's files gone)
  // and the variable store (read, locked and found writable). Without --var-store the variables
  // still persist from one boot of this run to the next, in a folder removed however the run ends.
  std::optional<ccxsim::OutputFolder> Out;
  std::optional<sim::LockFile> StoreLock;
  std::optional<sim::ScratchFolder> Scratch;
  std::filesystem::path VarStore = Args.VarStore;
  try {
    if (!Args.OutDir.empty()) Out.emplace(Args.OutDir);
    if (!VarStore.empty()) {
      // Its kind and content are checked before its lock file is made beside it (not in /dev for /dev/zero).
      std::error_code Missing;
      if (std::filesystem::exists(VarStore, Missing)) sim::ReadVariableStoreFile(VarStore);
      StoreLock.emplace(VarStore.string() + ".lock", "variable store '" + VarStore.string() + "'");
      sim::CheckVariableStoreWritable(VarStore);
    } else {
      Scratch.emplace("ccxsim");
      VarStore = Scratch->Path() / "variables.store";
    }
  } catch (const std::exception &Error) {
    std::cerr << "ccxsim: " << Error.what() << "\n";
    return 2;
  }

  const std::string ImageName = Delivered ? Delivered->Name() : Image.Name;
  ccxsim::PrintMachine(std::cout, Machine, ImageName + DeliveredFile.Note);
  nlohmann::json Report;
  Report["machine"] = {{"name", Machine.Name}, {"source", Machine.Source}, {"processors", Machine.Shape.Walk().size()}};
  Report["machine"]["warnings"] = sim::ConsistencyWarningLines(Machine);
  Report["image"] = ImageName;
  Report["processors"] = ccxsim::ProcessorMapJson(Machine);
  if (Args.ProcessorMap) ccxsim::PrintProcessorMap(std::cout, Machine);
  bool AllEnded = true;
  bool AllAgree = true;
  bool Abandoned = false;
  // The status to exit with. After an abandoned boot, whose threads may still run the image and use
  // the machine, the run's own files are let go and the process ends at once, without destructors
  // that would unmap what those threads use.
  auto EndRun = [&](int Status) {
    if (!Abandoned) return Status;
    Out.reset();
    StoreLock.reset();
    Scratch.reset();
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(Status);
  };
  ccxsim::RunVerdict Verdict;
  const bool Tracing = !Args.TraceFile.empty() || !Args.TraceSvgFile.empty();
  std::vector<ccxsim::BootTrace> Traces;
  for (uint64_t Boot = 1; Boot <= Args.Boots; Boot++) {
    sim::BootOptions Options;
    Options.VariableFile = VarStore;
    if (Args.PeerDriver) Options.PeerBefore = &CcxPeerImageDescriptor;
    Options.Loader = Delivered.get();
    Options.TimeLimit = std::chrono::seconds(Args.TimeLimit);
    // The builder of the processors' ACPI objects calls the driver's services once the boot is done.
    std::optional<sim::AcpiProcessorReport> Acpi;
    // The PCCT, HEST and SMBIOS builders do the same.
    std::optional<ccxsim::PlatformTables> Tables;
    // And the builders of the SRAT, the resource affinity table and the _CPC SSDT.
    std::optional<ccxsim::AffinityTables> Affinity;
    Options.AfterBoot = [&Acpi, &Tables, &Affinity](sim::Platform &Platform) {
      Acpi = ccxsim::AccountedService(Platform, ccxsim::kServiceAcpiProcessors,
                                      [&] { return sim::BuildAcpiProcessorObjects(Platform); });
      Tables = ccxsim::BuildPlatformTables(Platform);
      Affinity = ccxsim::BuildAffinityTables(Platform);
    };
    // What the machine holds once the boot is over, against what the machine calls for.
    Options.CheckState = sim::CheckMachineState;
    // Recorded only when asked for: a boot without it runs as fast as ever.
    sim::BootTimeline Timeline;
    if (Tracing) Options.Timeline = &Timeline;
    try {
      // A machine may differ from boot to boot of the run (down-cored first, then back to auto).
      const sim::Machine ThisBoot = sim::MachineForBoot(Machine, Boot);
      const sim::BootRecord Record =
          Args.Firmware.empty() ? sim::RunBoot(ThisBoot, Image, Options)
                                : sim::RunOvmfBoot(ThisBoot, {Delivered->Name(), Delivered->Bytes(), &Delivered->Info()},
                                                   OvmfSettingsFor(DeliveredFile.File), Options);
      if (Tracing) {
        Traces.push_back(ccxsim::BuildBootTrace(Timeline.Record(), Record, ThisBoot.Shape.Walk(),
                                                ccxsim::ActiveCostModel(),
                                                "boot " + std::to_string(Boot) + " of " + std::to_string(Args.Boots)));
      }
      // The boot's report is printed here first: every ERROR line in it, whichever section
      // printed it, means that the driver left or answered something the machine does not call for.
      std::ostringstream Shown;
      ccxsim::PrintBoot(Shown, Record, Boot, Args.Boots);
      Report["boots"].push_back(ccxsim::BootJson(Record));
      ccxsim::PrintMachineState(Shown, Record);
      Report["boots"].back()["machine_state"] = ccxsim::MachineStateJson(Record);
      ccxsim::PrintAcpiProcessors(Shown, Acpi);
      Report["boots"].back()["acpi_processor_objects"] = ccxsim::AcpiProcessorsJson(Acpi);
      ccxsim::PrintPlatformTables(Shown, Tables);
      Report["boots"].back()["platform_tables"] = ccxsim::PlatformTablesJson(Tables);
      ccxsim::PrintAffinityTables(Shown, Affinity);
      Report["boots"].back()["affinity_tables"] = ccxsim::AffinityTablesJson(Affinity);
      std::cout << Shown.str();
      const bool AgreedBefore = AllAgree;
      AllAgree = AllAgree && !ccxsim::ShowsErrors(Shown.str());
      if (Out) WriteRawChannels(Out->Path(), Boot, Record);
      if (Out && Affinity && !ccxsim::WriteAffinityTables(Out->Path(), *Affinity, std::cout)) {
        std::cerr << "ccxsim: iasl refused the _CPC SSDT under " << Out->Path().string() << "\n";
        return 2;
      }
      // Each boot's tables replace the previous boot's: the files show the last boot.
      if (Out && Tables) ccxsim::WritePlatformTables(Out->Path(), *Tables);
      AllEnded = AllEnded && ccxsim::RanToItsEnd(Record);
      const std::vector<ccxsim::UnmetExpectation> Unmet = ccxsim::CheckExpectation(ThisBoot.Expect, Record);
      ccxsim::PrintExpectation(std::cout, Unmet);
      Report["boots"].back()["expectation"] = ccxsim::ExpectationJson(Unmet);
      Verdict.Checked(Boot, Unmet, AgreedBefore && !AllAgree);
      // Threads of an abandoned boot may still hold the image and the machine: no boot follows it.
      if (Record.Abandoned) {
        Abandoned = true;
        break;
      }
      // The driver was told (EFI_DEVICE_ERROR) and its change undone, so the boot went on as the
      // driver saw it; but the run lost a variable it was to keep, and stops here.
      if (Record.VariableStoreFailure) {
        std::cerr << "ccxsim: boot " << Boot << " could not keep a variable: " << *Record.VariableStoreFailure << "\n";
        Verdict.LostVariables(Boot, *Record.VariableStoreFailure);
        break;
      }
    } catch (const ccxsim::OutputError &Error) {
      std::cerr << "ccxsim: " << Error.what() << "\n";
      return 2;
    } catch (const std::exception &Error) {
      std::cerr << "ccxsim: boot " << Boot << " could not run: " << Error.what() << "\n";
      AllEnded = false;
      Verdict.CouldNotRun(Boot, Error.what());
      break;
    }
  }
  const std::pair<const std::string &, std::string> Pictures[] = {
      {Args.TraceFile, Args.TraceFile.empty() ? "" : ccxsim::TraceEventJson(Traces, Machine.Name).dump() + "\n"},
      {Args.TraceSvgFile, Args.TraceSvgFile.empty() ? "" : ccxsim::TraceSvg(Traces, Machine.Name)}};
  for (const auto &[Path, Text] : Pictures) {
    if (Path.empty()) continue;
    std::ofstream File(Path, std::ios::binary);
    if (!File || !(File << Text)) {
      std::cerr << "ccxsim: cannot write the timeline to " << Path << "\n";
      return EndRun(2);
    }
    std::cout << "\ntimeline written to " << Path << "\n";
  }
  // Last, and whole: a report.json stands only beside the files of a run that ended.
  if (Out) {
    const std::filesystem::path Path = Out->Path() / ccxsim::kReportFile;
    try {
      ccxsim::WriteOutputFile(Path, Report.dump(2) + "\n");
    } catch (const ccxsim::OutputError &Error) {
      std::cerr << "ccxsim: " << Error.what() << "\n";
      return EndRun(2);
    }
    std::cout << "\nreport written to " << Path.string() << "\n";
  }
  std::cout << "\n" << (AllEnded ? "every boot ran to its end" : "a boot did not run to its end") << "\n";
  if (!AllAgree) std::cout << "the driver's answers differ from the machine (see the ERROR lines)\n";
  // The last line says why a run failed, for the log of a CI job that checks the exit status.
  if (Verdict.ExitStatus() != ccxsim::kExitAsExpected) {
    std::cout << "exit status " << Verdict.ExitStatus() << ": " << Verdict.Why() << "\n";
  }
  return EndRun(Verdict.ExitStatus());
}
