#include "tests/sim/reliability/FaultSweep.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "interfaces/CcxSmbiosServices.h"
#include "interfaces/QorvexGuids.h"
#include "arch/PostCode.h"
#include "sim/consumers/AcpiProcessorObjects.h"
#include "sim/consumers/AffinityTableBuilder.h"
#include "sim/consumers/PlatformTables.h"
#include "sim/oracle/MachineStateOracle.h"
#include "sim/oracle/SmbiosOracle.h"
#include "sim/consumers/SratBuilder.h"
#include "sim/platform/GuidNames.h"

namespace sim {
namespace {

std::string HexText(uint64_t Value) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

// The protocols a boot left installed, as "name" → how many instances.
std::map<std::string, size_t> InstalledCounts(const BootRecord &Boot) {
  std::map<std::string, size_t> Counts;
  for (const InstalledEntry &Entry : Boot.Installed) Counts[Entry.Protocol]++;
  return Counts;
}

constexpr unsigned kHangSeconds = 300;
constexpr uint64_t kS3LibraryAllocations = 2;

bool SameMsrChanges(const std::vector<MsrChange> &Left, const std::vector<MsrChange> &Right) {
  return std::equal(Left.begin(), Left.end(), Right.begin(), Right.end(), [](const MsrChange &A, const MsrChange &B) {
    return A.Msr == B.Msr && A.Before == B.Before && A.After == B.After && A.Processors == B.Processors;
  });
}

// A fatal-stop code names its unit in the upper 16 bits and a four-digit decimal number, written
// in hexadecimal, in the lower 16.
bool WellFormedStopCode(uint32_t Code) {
  for (unsigned Digit = 0; Digit < 4; Digit++) {
    if (((Code >> (4 * Digit)) & 0xF) > 9) return false;
  }
  return true;
}

// Runs the consumers that call every installed service, as the platform's table builders do, and
// keeps what each got.
// The fatal stops raised so far: each marks the fatal-stop port before it shows its code.
size_t FatalStopsSoFar(Platform &Machine) {
  size_t Marks = 0;
  for (const PostCodeWrite &Write : Machine.Devices().PostCodes().Writes()) {
    if (Write.Port == PostCode::FatalStopPort && Write.Value == PostCode::FatalStopMarker) Marks++;
  }
  return Marks;
}

void RunConsumers(Platform &Machine, SweepBoot &Boot) {
  auto Status = [](ConsumerOutcome &Outcome, const char *Call, const std::optional<uint64_t> &Answer) {
    if (Answer) Outcome.Statuses[Call] = *Answer;
  };
  const AcpiProcessorReport Acpi = BuildAcpiProcessorObjects(Machine);
  ConsumerOutcome &AcpiOutcome = Boot.Consumers["ACPI processor objects"];
  AcpiOutcome.ServiceFound = Acpi.ServiceFound;
  Status(AcpiOutcome, "GetPstateInfo", Acpi.PstateInfoStatus);
  Status(AcpiOutcome, "GetPowerStateInfo", Acpi.PowerStateStatus);
  AcpiOutcome.Errors = Acpi.Errors;

  const SratReport Srat = BuildSrat(Machine);
  ConsumerOutcome &SratOutcome = Boot.Consumers["SRAT"];
  SratOutcome.ServiceFound = Srat.ServiceFound;
  Status(SratOutcome, "AddProcessorAffinityEntries", Srat.Status);
  SratOutcome.Errors = Srat.Errors;

  const AffinityTableReport Affinity = BuildAffinityTable(Machine);
  ConsumerOutcome &AffinityOutcome = Boot.Consumers["resource affinity table"];
  AffinityOutcome.ServiceFound = Affinity.ServiceFound;
  Status(AffinityOutcome, "AddComputeUnitEntries", Affinity.ComputeUnitStatus);
  Status(AffinityOutcome, "AddCacheEntries", Affinity.CacheStatus);
  Status(AffinityOutcome, "AddTlbEntries", Affinity.TlbStatus);
  AffinityOutcome.Errors = Affinity.Errors;

  const PcctTable Pcct = BuildPcct(Machine);
  ConsumerOutcome &PcctOutcome = Boot.Consumers["PCCT"];
  PcctOutcome.ServiceFound = Pcct.ServiceFound;
  if (Pcct.ServiceFound) PcctOutcome.Statuses["PCC subspace"] = Pcct.Status;
  PcctOutcome.Errors = Pcct.Errors;

  const HestTable Hest = BuildHest(Machine);
  ConsumerOutcome &HestOutcome = Boot.Consumers["HEST"];
  HestOutcome.ServiceFound = Hest.ServiceFound;
  if (Hest.ServiceFound) HestOutcome.Statuses["GetMcaBankInfo"] = Hest.Status;
  HestOutcome.Errors = Hest.Errors;

  // The SMBIOS builder's calls, made here so that their answers are kept: the processor and the
  // cache records of every socket.
  ConsumerOutcome &SmbiosOutcome = Boot.Consumers["SMBIOS"];
  const size_t StopsBeforeSmbios = FatalStopsSoFar(Machine);
  VOID *Interface = nullptr;
  if (!EFI_ERROR(Machine.Core().BootServices()->LocateProtocol(&gQorvexCcxSmbiosServicesProtocolGuid, nullptr,
                                                                &Interface)) &&
      Interface != nullptr) {
    auto *Smbios = static_cast<QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL *>(Interface);
    SmbiosOutcome.ServiceFound = true;
    const uint32_t Sockets = Machine.Description().Shape.Count(TopologyLevel::Socket);
    for (uint32_t Socket = 0; Socket < Sockets; Socket++) {
      CCX_SMBIOS_PROCESSOR_INFO Processor{};
      CCX_SMBIOS_CACHE_INFO Caches[CCX_SMBIOS_CACHE_LEVELS]{};
      const std::string Which = "(socket " + std::to_string(Socket) + ")";
      const SiblingCallMark BeforeProcessor(Machine);
      const uint64_t ProcessorStatus = Smbios->GetProcessorInfo(Smbios, Socket, &Processor, nullptr);
      SmbiosOutcome.Statuses["GetProcessorInfo" + Which] = ProcessorStatus;
      CheckProcessorInfo(Machine, Socket, BeforeProcessor, ProcessorStatus, Processor, SmbiosOutcome.Errors);
      const SiblingCallMark BeforeCaches(Machine);
      const uint64_t CacheStatus = Smbios->GetCacheInfo(Smbios, Socket, Caches);
      SmbiosOutcome.Statuses["GetCacheInfo" + Which] = CacheStatus;
      CheckCacheInfo(Machine, Socket, BeforeCaches, CacheStatus, Caches, SmbiosOutcome.Errors);
    }
  }
  SmbiosOutcome.RaisedFatalStop = FatalStopsSoFar(Machine) != StopsBeforeSmbios;
}

}  // namespace

std::vector<std::string> NewlyFailedCalls(const SweepBoot &Baseline, const SweepBoot &Faulted) {
  std::vector<std::string> Failed;
  for (const auto &[Name, Outcome] : Faulted.Consumers) {
    const auto Clean = Baseline.Consumers.find(Name);
    for (const std::string &Call : Outcome.FailedCalls()) {
      const bool FailedBefore = Clean != Baseline.Consumers.end() && Clean->second.Statuses.count(Call) != 0 &&
                                EFI_ERROR(Clean->second.Statuses.at(Call));
      if (!FailedBefore) Failed.push_back(Name + ": " + Call);
    }
  }
  return Failed;
}

std::vector<std::string> NewlyFailedSmramCalls(const BootRecord &Clean, const BootRecord &Faulted) {
  std::vector<std::string> Failed;
  const std::vector<SmmCoreCall> &Before = Clean.SmmCore.Calls;
  for (size_t Index = 0; Index < Faulted.SmmCore.Calls.size(); Index++) {
    const SmmCoreCall &Call = Faulted.SmmCore.Calls[Index];
    const bool FailedBefore = Index < Before.size() && EFI_ERROR(Before[Index].Status);
    if (EFI_ERROR(Call.Status) && !FailedBefore) Failed.push_back(Call.Operation);
  }
  return Failed;
}

namespace {

// The builders that found their service in the clean boot and not in the faulted one.
std::vector<std::string> BuildersWithoutService(const SweepBoot &Baseline, const SweepBoot &Faulted) {
  std::vector<std::string> Lost;
  for (const auto &[Name, Outcome] : Faulted.Consumers) {
    const auto Clean = Baseline.Consumers.find(Name);
    if (!Outcome.ServiceFound && Clean != Baseline.Consumers.end() && Clean->second.ServiceFound) Lost.push_back(Name);
  }
  return Lost;
}

// The consumers' errors that the clean boot did not show, as "builder: error", leaving out those
// of a builder that was told by an error of its service, or found none, that its answers are not
// whole.
std::vector<std::string> UnreportedConsumerErrors(const SweepBoot &Baseline, const SweepBoot &Faulted) {
  std::vector<std::string> Unreported;
  for (const auto &[Name, Outcome] : Faulted.Consumers) {
    if (!Outcome.ServiceFound || !Outcome.FailedCalls().empty() || Outcome.RaisedFatalStop) continue;
    const auto Clean = Baseline.Consumers.find(Name);
    for (const std::string &Error : Outcome.Errors) {
      const bool SeenBefore = Clean != Baseline.Consumers.end() &&
                              std::find(Clean->second.Errors.begin(), Clean->second.Errors.end(), Error) !=
                                  Clean->second.Errors.end();
      if (!SeenBefore) Unreported.push_back(Name + ": " + Error);
    }
  }
  return Unreported;
}

}  // namespace

std::vector<std::string> NewDebugWarnings(const BootRecord &Clean, const BootRecord &Faulted) {
  auto Lines = [](const std::string &Text) {
    std::vector<std::string> All;
    size_t Start = 0;
    for (size_t End; (End = Text.find('\n', Start)) != std::string::npos; Start = End + 1) {
      std::string Line = Text.substr(Start, End - Start);
      if (!Line.empty() && Line.back() == '\r') Line.pop_back();
      if (Line.find("WARNING!") != std::string::npos || Line.find("ERROR") != std::string::npos) All.push_back(Line);
    }
    return All;
  };
  const std::vector<std::string> Before = Lines(Clean.Uart3F8);
  std::vector<std::string> New;
  for (const std::string &Line : Lines(Faulted.Uart3F8)) {
    if (std::find(Before.begin(), Before.end(), Line) == Before.end()) New.push_back(Line);
  }
  return New;
}

namespace {

// Whether the faulted boot reported a failure anywhere a caller of the driver, or the firmware's
// debug log, can see it.
bool FailureReported(const SweepBoot &Baseline, const SweepBoot &Faulted) {
  const BootRecord &Clean = Baseline.Record;
  const BootRecord &Boot = Faulted.Record;
  return !NewFatalStops(Clean, Boot).empty() || Boot.EntryStatus != Clean.EntryStatus ||
         InstalledCounts(Boot) != InstalledCounts(Clean) || !NewlyFailedCalls(Baseline, Faulted).empty() ||
         !NewlyFailedSmramCalls(Clean, Boot).empty() || !BuildersWithoutService(Baseline, Faulted).empty() ||
         !NewDebugWarnings(Clean, Boot).empty();
}

// The loader the sweep boots its driver through; null boots the image descriptor's host copy.
DriverLoader *gLoader = nullptr;

SweepBoot Boot(const Machine &Description, const CCX_DRIVER_IMAGE &Image, FaultSchedule &Schedule,
               std::map<std::pair<std::string, std::string>, uint64_t> *SiblingCalls) {
  SweepBoot Result;
  BootOptions Options;
  Options.Faults = &Schedule;
  Options.Loader = gLoader;
  Options.CheckState = CheckMachineState;
  Options.AfterBoot = [&](Platform &Machine) {
    RunConsumers(Machine, Result);
    if (SiblingCalls != nullptr) *SiblingCalls = Machine.Faults().AllCalls();
  };
  Result.Record = RunBoot(Description, Image, Options);
  Result.Fired = Schedule.Fired();
  return Result;
}

}  // namespace

void SweepWithLoader(DriverLoader *Loader) { gLoader = Loader; }

std::vector<uint32_t> NewFatalStops(const BootRecord &Clean, const BootRecord &Faulted) {
  std::vector<uint32_t> Unmatched = Clean.FatalStops;
  std::vector<uint32_t> New;
  for (uint32_t Code : Faulted.FatalStops) {
    const auto Same = std::find(Unmatched.begin(), Unmatched.end(), Code);
    if (Same != Unmatched.end()) {
      Unmatched.erase(Same);
    } else {
      New.push_back(Code);
    }
  }
  return New;
}

std::vector<std::string> ConsumerOutcome::FailedCalls() const {
  std::vector<std::string> Failed;
  for (const auto &[Call, Status] : Statuses) {
    if (EFI_ERROR(Status)) Failed.push_back(Call);
  }
  return Failed;
}

std::string FaultPoint::Describe() const {
  if (IsSibling) return Sibling.Service + "." + Sibling.Query + " call " + std::to_string(Sibling.Call);
  std::string Text = FaultSiteName(Schedule.Site);
  if (Schedule.Site == FaultSite::LocateProtocol) Text += " of " + GuidName(Schedule.Protocol);
  return Text + " call " + std::to_string(Schedule.Call);
}

SweepBaseline CountFaultPoints(const Machine &Description, const CCX_DRIVER_IMAGE &Image) {
  SweepBaseline Baseline;
  FaultSchedule Counter;
  std::map<std::pair<std::string, std::string>, uint64_t> SiblingCalls;
  Baseline.Boot = Boot(Description, Image, Counter, &SiblingCalls);
  for (FaultSite Site : {FaultSite::PageAllocation, FaultSite::PoolAllocation, FaultSite::VariableWrite,
                         FaultSite::MpStart}) {
    for (uint64_t Call = 1; Call <= Counter.Calls(Site); Call++) {
      FaultPoint Point;
      Point.Schedule = {Site, EFI_GUID{}, Call, DefaultFaultStatus(Site)};
      Baseline.Points.push_back(Point);
    }
  }
  for (const auto &[Guid, Calls] : Counter.Locates()) {
    for (uint64_t Call = 1; Call <= Calls; Call++) {
      FaultPoint Point;
      Point.Schedule = {FaultSite::LocateProtocol, Guid, Call, DefaultFaultStatus(FaultSite::LocateProtocol)};
      Baseline.Points.push_back(Point);
    }
  }
  // A topology walk asks the same query once per processor; past the first calls, every sixteenth
  // and the last stand for the rest unless the whole sweep is asked for.
  const bool Every = std::getenv("CCX_FULL_SWEEP") != nullptr;
  for (const auto &[Query, Calls] : SiblingCalls) {
    for (uint64_t Call = 1; Call <= Calls; Call++) {
      if (!Every && Call > 8 && Call % 16 != 0 && Call != Calls) continue;
      FaultPoint Point;
      Point.IsSibling = true;
      Point.Sibling = {Query.first, Query.second, Call, EFI_DEVICE_ERROR};
      Baseline.Points.push_back(Point);
    }
  }
  return Baseline;
}

SweepBoot BootWithFault(const Machine &Description, const CCX_DRIVER_IMAGE &Image, const FaultPoint &Point) {
  if (Point.IsSibling) {
    Machine Faulted = Description;
    Faulted.Faults.push_back(Point.Sibling);
    FaultSchedule None;
    std::map<std::pair<std::string, std::string>, uint64_t> SiblingCalls;
    SweepBoot Result = Boot(Faulted, Image, None, &SiblingCalls);
    const auto It = SiblingCalls.find({Point.Sibling.Service, Point.Sibling.Query});
    Result.SiblingFaultsFired = It != SiblingCalls.end() && It->second >= Point.Sibling.Call ? 1 : 0;
    return Result;
  }
  FaultSchedule Schedule({Point.Schedule});
  return Boot(Description, Image, Schedule, nullptr);
}

std::vector<std::string> CheckFaultedBoot(const SweepBoot &Baseline, const SweepBoot &Faulted,
                                          const FaultPoint &Point) {
  std::vector<std::string> Problems;
  const BootRecord &Clean = Baseline.Record;
  const BootRecord &Boot = Faulted.Record;
  const size_t Fired = Point.IsSibling ? Faulted.SiblingFaultsFired : Faulted.Fired.size();
  if (Fired != 1) Problems.push_back("the fault was not reached (the boot is not repeatable)");
  if (Boot.End.How == BootEnd::SimulatorError) Problems.push_back("the simulator failed: " + Boot.End.Detail);
  if (Boot.End.How == BootEnd::FatalHalt) Problems.push_back("the boot halted although fatal stops return here");
  if (!Boot.EntryStatus) Problems.push_back("the entry never returned");
  // Whatever failed, the driver touched nothing the simulator had to refuse.
  for (const std::string &Note : Boot.Notes) {
    if (std::find(Clean.Notes.begin(), Clean.Notes.end(), Note) == Clean.Notes.end()) {
      Problems.push_back("simulator note: " + Note);
    }
  }
  for (uint32_t Code : Boot.FatalStops) {
    if (!WellFormedStopCode(Code)) Problems.push_back("fatal stop " + HexText(Code) + " is no unit/number code");
  }
  // A failure may leave protocols out, never add or duplicate one.
  const auto CleanProtocols = InstalledCounts(Clean);
  for (const auto &[Name, Count] : InstalledCounts(Boot)) {
    const auto It = CleanProtocols.find(Name);
    if (It == CleanProtocols.end() || Count > It->second) {
      Problems.push_back(Name + " installed " + std::to_string(Count) + " times, " +
                         std::to_string(It == CleanProtocols.end() ? 0 : It->second) + " in the clean boot");
    }
  }
  // The shared heap stays a sound list, and every buffer in it is whole: the size and the leading
  // bytes the clean boot gave it, a valid header.
  if (!Boot.Heap.Problem.empty()) Problems.push_back("heap list: " + Boot.Heap.Problem);
  for (const HeapBufferView &Buffer : Boot.Heap.Buffers) {
    const auto Same = std::find_if(Clean.Heap.Buffers.begin(), Clean.Heap.Buffers.end(),
                                   [&](const HeapBufferView &Other) { return Other.Handle == Buffer.Handle; });
    if (Same == Clean.Heap.Buffers.end()) {
      Problems.push_back("heap buffer " + HexText(Buffer.Handle) + " appears only under the fault");
    } else if (Same->Size != Buffer.Size || Same->Valid != Buffer.Valid || Same->Signature != Buffer.Signature) {
      Problems.push_back("heap buffer " + HexText(Buffer.Handle) + " is not the clean boot's (size " +
                         std::to_string(Buffer.Size) + ")");
    }
  }
  // The consumers' checks of the answers they were given as whole still hold: a service whose
  // answer is not whole says so with an error.
  for (const std::string &Error : UnreportedConsumerErrors(Baseline, Faulted)) {
    Problems.push_back("consumer, with no error from its service: " + Error);
  }
  // State that differs from what the machine calls for is a failure someone was told of; but a
  // protocol location that fails tells the driver the protocol is not there, and it takes the
  // path of a machine without it (a notify that waits for an installation already past), and the
  // down-core check's variable write is not looked at by design: there the machine the driver
  // was shown is not the one the oracle knows, and nothing is there to report.
  // The S3 library's own two allocations (its record, then its table) come first in the library
  // start-up, before the fatal stops are configured: their stops return unseen and the start-up
  // goes on, as designed, and the hand-off then does not take place.
  const bool SilentLibraryStartup = !Point.IsSibling && Point.Schedule.Site == FaultSite::PoolAllocation &&
                                    Point.Schedule.Call <= kS3LibraryAllocations;
  const bool ShownAnotherMachine = SilentLibraryStartup ||
                                   (!Point.IsSibling && (Point.Schedule.Site == FaultSite::LocateProtocol ||
                                                         Point.Schedule.Site == FaultSite::VariableWrite));
  for (const std::string &Error : Boot.StateErrors) {
    if (std::find(Clean.StateErrors.begin(), Clean.StateErrors.end(), Error) == Clean.StateErrors.end() &&
        !ShownAnotherMachine && !FailureReported(Baseline, Faulted)) {
      Problems.push_back("machine state, with no reported failure: " + Error);
    }
  }
  // Processors that hold other values than in the clean boot are a failure someone was told of.
  if (!SameMsrChanges(Boot.MsrChanges, Clean.MsrChanges) && !FailureReported(Baseline, Faulted)) {
    Problems.push_back("processors hold other MSR values than in the clean boot, and nothing reports a failure");
  }
  return Problems;
}

std::string OutcomeKind(const SweepBoot &Baseline, const SweepBoot &Faulted) {
  const BootRecord &Clean = Baseline.Record;
  const BootRecord &Boot = Faulted.Record;
  if (Boot.End.How == BootEnd::Reset) return "reset";
  if (Boot.End.How == BootEnd::FatalHalt) return "halted";
  if (Boot.End.How == BootEnd::SimulatorError) return "simulator error";
  const std::vector<uint32_t> Stops = NewFatalStops(Clean, Boot);
  if (!Stops.empty()) return "fatal stop " + HexText(Stops.front());
  if (Boot.EntryStatus != Clean.EntryStatus) return "entry status " + HexText(Boot.EntryStatus.value_or(0));
  if (InstalledCounts(Boot) != InstalledCounts(Clean)) return "fewer protocols installed";
  if (const auto Failed = NewlyFailedCalls(Baseline, Faulted); !Failed.empty()) {
    return "service reports failure (" + Failed.front() + ")";
  }
  if (const auto Failed = NewlyFailedSmramCalls(Clean, Boot); !Failed.empty()) {
    return "SMRAM call reports failure (" + Failed.front() + ")";
  }
  if (const auto Lost = BuildersWithoutService(Baseline, Faulted); !Lost.empty()) return Lost.front() + " finds no service";
  if (!UnreportedConsumerErrors(Baseline, Faulted).empty()) return "consumer checks fail without a reported failure";
  if (const auto Warned = NewDebugWarnings(Clean, Boot); !Warned.empty()) return "debug output: " + Warned.front();
  if (!SameMsrChanges(Boot.MsrChanges, Clean.MsrChanges)) return "MSRs differ without a reported failure";
  if (Boot.Heap.Buffers.size() != Clean.Heap.Buffers.size()) return "fewer heap buffers";
  return "absorbed";
}

SweepVerdict JudgeFaultPoint(const SweepBoot &Baseline, const Machine &Description, const CCX_DRIVER_IMAGE &Image,
                             const FaultPoint &Point) {
  int Pipe[2];
  if (pipe(Pipe) != 0) return {{"no pipe for the child"}, "simulator error"};
  std::fflush(nullptr);
  const pid_t Child = fork();
  if (Child == 0) {
    close(Pipe[0]);
    // A boot that hangs ends the child (SIGALRM) instead of the sweep; no boot comes near this.
    alarm(kHangSeconds);
    const SweepBoot Faulted = BootWithFault(Description, Image, Point);
    // One line each: the kind first, then the problems.
    std::string Text = OutcomeKind(Baseline, Faulted) + "\n";
    for (const std::string &Problem : CheckFaultedBoot(Baseline, Faulted, Point)) Text += Problem + "\n";
    size_t Done = 0;
    while (Done < Text.size()) {
      const ssize_t Written = write(Pipe[1], Text.data() + Done, Text.size() - Done);
      if (Written <= 0) break;
      Done += static_cast<size_t>(Written);
    }
    _exit(0);
  }
  close(Pipe[1]);
  std::string Text;
  char Chunk[4096];
  for (ssize_t Read; (Read = read(Pipe[0], Chunk, sizeof(Chunk))) > 0;) Text.append(Chunk, static_cast<size_t>(Read));
  close(Pipe[0]);
  int Status = 0;
  if (Child < 0 || waitpid(Child, &Status, 0) != Child) return {{"the child could not be run"}, "simulator error"};
  if (WIFSIGNALED(Status)) {
    const std::string Kind = WTERMSIG(Status) == SIGALRM ? std::string("hung")
                                                          : "crashed (signal " + std::to_string(WTERMSIG(Status)) + ")";
    return {{Kind}, Kind};
  }
  if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) {
    const std::string Kind = "child exited with status " + std::to_string(WEXITSTATUS(Status));
    return {{Kind}, Kind};
  }
  SweepVerdict Verdict;
  size_t Start = 0;
  for (size_t End; (End = Text.find('\n', Start)) != std::string::npos; Start = End + 1) {
    const std::string Line = Text.substr(Start, End - Start);
    if (Verdict.Kind.empty()) {
      Verdict.Kind = Line;
    } else {
      Verdict.Problems.push_back(Line);
    }
  }
  return Verdict;
}

}  // namespace sim
