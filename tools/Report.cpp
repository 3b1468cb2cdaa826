#include "tools/Report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <sstream>

#include "interfaces/HeapProtocol.h"
#include "tools/AccessReport.h"
#include "tools/FaultsReport.h"
#include "tools/ReportNames.h"
#include "tools/S3TokensReport.h"
#include "sim/HexText.h"
#include "sim/machine/MachineConsistency.h"
#include "sim/uefi/StatusNames.h"

namespace ccxsim {
namespace {

using sim::Hex;

std::string TplName(uint64_t Tpl) {
  switch (Tpl) {
    case 4: return "TPL_APPLICATION";
    case 8: return "TPL_CALLBACK";
    case 16: return "TPL_NOTIFY";
    case 31: return "TPL_HIGH_LEVEL";
    default: return std::to_string(Tpl);
  }
}

std::string ResetName(uint64_t Type) {
  static const char *kNames[] = {"EfiResetCold", "EfiResetWarm", "EfiResetShutdown", "EfiResetPlatformSpecific"};
  return Type < 4 ? kNames[Type] : std::to_string(Type);
}

std::string EndText(const sim::BootEnd &End) {
  switch (End.How) {
    case sim::BootEnd::Returned: return "returned";
    case sim::BootEnd::Reset: return "reset (" + ResetName(End.Code) + ")";
    case sim::BootEnd::FatalHalt: return "halted on fatal stop " + Hex(End.Code, 8);
    case sim::BootEnd::SimulatorError: return "stopped by a simulator error: " + End.Detail;
  }
  return "?";
}

std::string Processors(const std::vector<size_t> &Which, size_t Count) {
  if (Which.size() == Count) return "all " + std::to_string(Count) + " processors";
  std::ostringstream Text;
  Text << (Which.size() == 1 ? "processor " : "processors ");
  // Runs of consecutive numbers as ranges.
  for (size_t Index = 0; Index < Which.size();) {
    size_t End = Index;
    while (End + 1 < Which.size() && Which[End + 1] == Which[End] + 1) End++;
    if (Index != 0) Text << ",";
    Text << Which[Index];
    if (End > Index) Text << "-" << Which[End];
    Index = End + 1;
  }
  return Text.str();
}

std::string Bytes(const std::vector<uint8_t> &Data) {
  std::string Text;
  for (uint8_t Byte : Data) {
    char Cell[4];
    std::snprintf(Cell, sizeof(Cell), "%02X ", Byte);
    Text += Cell;
  }
  if (!Text.empty()) Text.pop_back();
  return Text;
}

// A channel's text with every line ending (CR LF, CR CR LF, LF) read as one line break.
void PrintChannel(std::ostream &Out, const std::string &Title, const std::string &Raw) {
  Out << "  " << Title << ":\n";
  if (Raw.empty()) {
    Out << "    (nothing)\n";
    return;
  }
  std::istringstream Lines(Raw);
  std::string Line;
  while (std::getline(Lines, Line)) {
    while (!Line.empty() && Line.back() == '\r') Line.pop_back();
    Out << "    | " << Line << "\n";
  }
}

// The hooks the option service received, in the order it received them.
void PrintOptionHooks(std::ostream &Out, const std::vector<sim::OptionHookCall> &Calls) {
  Out << "\noption hooks received (" << Calls.size() << "):\n";
  if (Calls.empty()) Out << "  none\n";
  size_t NameWidth = 0;
  for (const sim::OptionHookCall &Call : Calls) NameWidth = std::max(NameWidth, OptionHookName(Call.HookId).size());
  for (const sim::OptionHookCall &Call : Calls) {
    Out << "  " << WithName(Hex(Call.HookId, 8), OptionHookName(Call.HookId), NameWidth) << "  "
        << sim::OptionRequestName(Call.Request) << " -> "
        << StatusName(Call.Status) << "\n";
  }
}

// The SMM core's phase: each call with its status and the protocol's states after it, the SMRAM
// map after the lock, the SMM range registers of every processor, and the coprocessor mutex.
void PrintSmram(std::ostream &Out, const sim::BootRecord &Boot) {
  Out << "\nSMRAM (the SMM core's phase before ready-to-boot):\n";
  if (!Boot.SmmCore.Found) {
    Out << "  EFI_SMM_ACCESS2_PROTOCOL was not installed\n";
  } else {
    for (const sim::SmmCoreCall &Call : Boot.SmmCore.Calls) {
      Out << "  " << Call.Operation << " -> " << StatusName(Call.Status) << "  (" << (Call.OpenState ? "open" : "closed")
          << (Call.LockState ? ", locked" : ", unlocked") << ")\n";
    }
    Out << "  map after the lock:\n";
    if (Boot.SmmCore.Map.empty()) Out << "    (not reported)\n";
    for (const sim::SmramMapEntry &Region : Boot.SmmCore.Map) {
      Out << "    " << Hex(Region.PhysicalStart, 8) << "-" << Hex(Region.PhysicalStart + Region.PhysicalSize - 1, 8)
          << "  " << sim::RegionStateNames(Region.RegionState) << "\n";
    }
  }
  Out << "  SMM range MSRs (TSEG base 0xC0010112, TSEG mask 0xC0010113, A0000 MTRR 0x259, HWCR 0xC0010015):\n";
  for (const sim::SmmRangeMsrGroup &Group : Boot.SmmRangeMsrs) {
    Out << "    " << Hex(Group.TsegBase, 16) << " " << Hex(Group.TsegMask, 16) << " " << Hex(Group.AsegMtrr, 16) << " "
        << Hex(Group.Hwcr, 16) << "  on " << Processors(Group.Processors, Boot.ProcessorCount) << "\n";
  }
  const sim::CoprocessorMutexRecord &Mutex = Boot.CoprocessorMutex;
  Out << "  coprocessor mutex: ";
  if (!Mutex.Present) {
    Out << "no coprocessor\n";
    return;
  }
  Out << Mutex.Statistics.X86Requests << " x86 acquisitions (" << Mutex.Statistics.X86Releases << " released), "
      << Mutex.Statistics.CoprocessorAcquisitions << " by the coprocessor"
      << (Mutex.Contends ? " on the schedule of seed " + std::to_string(Mutex.Seed) : std::string()) << ", "
      << Mutex.Statistics.PollsWhileHeld
      << " x86 polls while the coprocessor held it, " << Mutex.Statistics.ExclusionViolations
      << " times both inside\n";
}

std::string MemoryTypeName(const std::optional<uint32_t> &Type) {
  if (!Type) return "outside DRAM";
  switch (*Type) {
    case EfiBootServicesData: return "boot-services data";
    case EfiRuntimeServicesData: return "runtime-services data";
    default: return "memory type " + std::to_string(*Type);
  }
}

void PrintHeapBuffers(std::ostream &Out, const sim::HeapSnapshot &Heap) {
  Out << "\nheap buffers (" << Heap.Buffers.size() << "):\n";
  if (!Heap.Published) Out << "  (no QORVEX_HEAP_PROTOCOL)\n";
  size_t NameWidth = 0;
  for (const sim::HeapBufferView &Buffer : Heap.Buffers) {
    NameWidth = std::max(NameWidth, HeapHandleName(Buffer.Handle).size());
  }
  for (const sim::HeapBufferView &Buffer : Heap.Buffers) {
    Out << "  " << WithName(Hex(Buffer.Handle, 8), HeapHandleName(Buffer.Handle), NameWidth) << "  " << Buffer.Size
        << (Buffer.Size == 1 ? " byte" : " bytes")
        << ", persistence " << unsigned(Buffer.Persistence) << ", " << MemoryTypeName(Buffer.MemoryType);
    if (Buffer.Signature != HEAP_SIGNATURE || Buffer.Valid != HEAP_BUFFER_VALID) Out << ", not a valid record";
    if (!Buffer.FirstBytes.empty()) {
      Out << ": " << Bytes(Buffer.FirstBytes) << (Buffer.FirstBytes.size() < Buffer.Size ? " ..." : "");
    }
    Out << "\n";
  }
  if (!Heap.Problem.empty()) Out << "  the walk stopped: " << Heap.Problem << "\n";
}

nlohmann::json SmmJson(const sim::BootRecord &Boot) {
  nlohmann::json Json;
  Json["found"] = Boot.SmmCore.Found;
  Json["calls"] = nlohmann::json::array();
  for (const sim::SmmCoreCall &Call : Boot.SmmCore.Calls) {
    Json["calls"].push_back({{"operation", Call.Operation},
                             {"status", StatusName(Call.Status)},
                             {"open", Call.OpenState},
                             {"locked", Call.LockState}});
  }
  Json["map"] = nlohmann::json::array();
  for (const sim::SmramMapEntry &Region : Boot.SmmCore.Map) {
    Json["map"].push_back({{"base", Hex(Region.PhysicalStart)},
                           {"size", Hex(Region.PhysicalSize)},
                           {"state", sim::RegionStateNames(Region.RegionState)}});
  }
  Json["range_msrs"] = nlohmann::json::array();
  for (const sim::SmmRangeMsrGroup &Group : Boot.SmmRangeMsrs) {
    Json["range_msrs"].push_back({{"tseg_base", Hex(Group.TsegBase, 16)},
                                  {"tseg_mask", Hex(Group.TsegMask, 16)},
                                  {"aseg_mtrr", Hex(Group.AsegMtrr, 16)},
                                  {"hwcr", Hex(Group.Hwcr, 16)},
                                  {"processors", Group.Processors}});
  }
  const sim::CoprocessorMutexRecord &Mutex = Boot.CoprocessorMutex;
  Json["coprocessor_mutex"] = {{"present", Mutex.Present},
                               {"contends", Mutex.Contends},
                               {"seed", Mutex.Seed},
                               {"x86_acquisitions", Mutex.Statistics.X86Requests},
                               {"x86_releases", Mutex.Statistics.X86Releases},
                               {"coprocessor_acquisitions", Mutex.Statistics.CoprocessorAcquisitions},
                               {"x86_polls_while_held", Mutex.Statistics.PollsWhileHeld},
                               {"overlaps", Mutex.Statistics.ExclusionViolations}};
  return Json;
}

nlohmann::json HeapJson(const sim::HeapSnapshot &Heap) {
  nlohmann::json Json;
  Json["published"] = Heap.Published;
  Json["buffers"] = nlohmann::json::array();
  for (const sim::HeapBufferView &Buffer : Heap.Buffers) {
    Json["buffers"].push_back({{"handle", Hex(Buffer.Handle, 8)},
                               {"name", HeapHandleName(Buffer.Handle)},
                               {"size", Buffer.Size},
                               {"persistence", Buffer.Persistence},
                               {"memory", MemoryTypeName(Buffer.MemoryType)},
                               {"first_bytes", Bytes(Buffer.FirstBytes)}});
  }
  Json["problem"] = Heap.Problem;
  return Json;
}

// The reverse-map table and the SNP registers of every processor, the software SMIs with the
// phase each came in, and the overclocking completions.
void PrintSnpAndBootEvents(std::ostream &Out, const sim::BootRecord &Boot) {
  const sim::SnpSnapshot &Snp = Boot.Snp;
  Out << "\nsecure nested paging:\n";
  if (Snp.TableFirst == 0) {
    Out << "  no reverse-map table\n";
  } else {
    Out << "  reverse-map table " << Hex(Snp.TableFirst, 8) << "-" << Hex(Snp.TableLast, 8) << " ("
        << Hex(Snp.TableLast - Snp.TableFirst + 1) << " bytes), "
        << (Snp.TableReserved ? "reserved memory" : "NOT all in reserved memory") << "\n";
  }
  Out << "  BSP: RMP base " << Hex(Snp.RmpBaseMsr, 16) << ", RMP end " << Hex(Snp.RmpEndMsr, 16) << ", SYSCFG "
      << Hex(Snp.SysCfg, 16) << "\n";
  Out << "  the same three values on " << Processors(Snp.Agreeing, Boot.ProcessorCount);
  if (Snp.Agreeing.size() != Boot.ProcessorCount) {
    Out << " (" << Boot.ProcessorCount - Snp.Agreeing.size() << " processors differ)";
  }
  Out << "\n";

  Out << "\nsoftware SMIs (" << Boot.Smis.size() << "):\n";
  if (Boot.Smis.empty()) Out << "  none\n";
  for (const sim::SoftwareSmi &Smi : Boot.Smis) {
    Out << "  command " << Hex(Smi.Command, 2);
    if (Smi.HasData) Out << ", data " << Hex(Smi.Data, 2);
    Out << " during " << (Smi.Phase.empty() ? std::string("(no phase)") : Smi.Phase) << "\n";
  }
  Out << "\noverclocking completions (gQorvexCcxOcCompleteProtocolGuid installed): " << Boot.OcCompletions << "\n";
}

nlohmann::json SnpAndBootEventsJson(const sim::BootRecord &Boot) {
  nlohmann::json Json;
  const sim::SnpSnapshot &Snp = Boot.Snp;
  Json["snp"] = {{"rmp_base_msr", Hex(Snp.RmpBaseMsr, 16)},
                 {"rmp_end_msr", Hex(Snp.RmpEndMsr, 16)},
                 {"syscfg", Hex(Snp.SysCfg, 16)},
                 {"agreeing_processors", Snp.Agreeing},
                 {"table_first", Hex(Snp.TableFirst)},
                 {"table_last", Hex(Snp.TableLast)},
                 {"table_reserved", Snp.TableReserved}};
  Json["smis"] = nlohmann::json::array();
  for (const sim::SoftwareSmi &Smi : Boot.Smis) {
    Json["smis"].push_back({{"command", Hex(Smi.Command, 2)},
                            {"data", Smi.HasData ? nlohmann::json(Hex(Smi.Data, 2)) : nlohmann::json(nullptr)},
                            {"phase", Smi.Phase}});
  }
  Json["oc_completions"] = Boot.OcCompletions;
  return Json;
}

}  // namespace

std::string StatusName(uint64_t Status) { return sim::EfiStatusName(Status); }

std::string BootEndText(const sim::BootEnd &End) { return EndText(End); }

bool RanToItsEnd(const sim::BootRecord &Boot) {
  return Boot.End.How == sim::BootEnd::Returned || Boot.End.How == sim::BootEnd::Reset;
}

void PrintMachine(std::ostream &Out, const sim::Machine &Machine, const std::string &Image) {
  Out << "ccxsim: machine \"" << Machine.Name << "\" (" << Machine.Source << "), " << Machine.Shape.Walk().size()
      << " processors; driver image " << Image << "\n";
  if (!Machine.Description.empty()) Out << "  " << Machine.Description << "\n";
  for (const std::string &Warning : sim::ConsistencyWarningLines(Machine)) Out << Warning << "\n";
}

void PrintBoot(std::ostream &Out, const sim::BootRecord &Boot, size_t Number, size_t Count) {
  Out << "\n=== boot " << Number << " of " << Count << " ===\n";
  Out << "entry status: " << (Boot.EntryStatus ? StatusName(*Boot.EntryStatus) : std::string("(the entry did not return)"))
      << "\n";
  Out << "boot ended:   " << EndText(Boot.End) << "\n";
  Out << "steps:        ";
  for (size_t Index = 0; Index < Boot.Steps.size(); Index++) Out << (Index ? ", " : "") << Boot.Steps[Index];
  Out << "\n";
  if (!Boot.Traps.empty()) {
    Out << "image traps:  loaded at " << Hex(Boot.ImageBase) << ";";
    for (const auto &[Kind, Taken] : Boot.Traps) Out << " " << Kind << " " << Taken;
    Out << "\n";
  }

  Out << "\nprotocols installed (" << Boot.Installed.size() << "):\n";
  std::string Handle;
  for (const sim::InstalledEntry &Entry : Boot.Installed) {
    Out << "  " << (Entry.Handle == Handle ? std::string(Entry.Handle.size(), ' ') : Entry.Handle) << "  "
        << Entry.Protocol << "\n";
    Handle = Entry.Handle;
  }

  Out << "\nevents left armed (" << Boot.Armed.size() << "):\n";
  for (const sim::ArmedEvent &Event : Boot.Armed) {
    Out << "  " << (Event.Notify.empty() ? "(no notify function)" : Event.Notify) << " at " << TplName(Event.Tpl);
    if (!Event.Group.empty()) Out << ", group " << Event.Group;
    for (const std::string &Guid : Event.WaitsFor) Out << ", waits for " << Guid;
    Out << "\n";
  }

  Out << "\nPOST codes (" << Boot.PostCodes.size() << " writes):\n  test points:";
  if (Boot.TestPoints.empty()) Out << " none";
  for (uint32_t Value : Boot.TestPoints) Out << "\n    " << WithName(Hex(Value, 8), TestPointName(Value));
  Out << "\n  fatal stops:";
  for (uint32_t Code : Boot.FatalStops) Out << " " << Hex(Code, 8);
  if (Boot.FatalStops.empty()) Out << " none";
  Out << "\n";

  Out << "\nMSRs changed:\n";
  if (Boot.MsrChanges.empty()) Out << "  none\n";
  size_t NameWidth = 0;
  for (const sim::MsrChange &Change : Boot.MsrChanges) NameWidth = std::max(NameWidth, MsrName(Change.Msr).size());
  for (const sim::MsrChange &Change : Boot.MsrChanges) {
    Out << "  " << WithName(Hex(Change.Msr, 8), MsrName(Change.Msr), NameWidth) << "  " << Hex(Change.Before, 16)
        << " -> " << Hex(Change.After, 16) << "  on "
        << Processors(Change.Processors, Boot.ProcessorCount) << "\n";
  }

  Out << "\nconfiguration items written:\n";
  if (Boot.PcdWrites.empty()) Out << "  none\n";
  for (const auto &[Token, Value] : Boot.PcdWrites) Out << "  " << sim::PcdItemName(Token) << " = " << Hex(Value) << "\n";

  Out << "\nvariables:\n";
  if (Boot.Variables.empty()) Out << "  none\n";
  for (const auto &[Name, Data] : Boot.Variables) Out << "  " << Name << ": " << Bytes(Data) << "\n";

  PrintOptionHooks(Out, Boot.OptionHooks);
  PrintSiblingFaults(Out, Boot);
  PrintSnpAndBootEvents(Out, Boot);

  PrintSmram(Out, Boot);
  PrintHeapBuffers(Out, Boot.Heap);
  PrintS3Tokens(Out, Boot);

  Out << "\ndebug output:\n";
  if (Boot.Uart3F8.empty() && Boot.Legacy2F8.empty() && Boot.PortCaptureMessages.empty()) {
    Out << "  (nothing: the delivered driver is built without debug output; boot with --debug-output)\n";
  } else {
    PrintChannel(Out, "UART at 0x3F8", Boot.Uart3F8);
    PrintChannel(Out, "legacy serial port at 0x2F8", Boot.Legacy2F8);
    std::string Captured;
    for (const std::string &Message : Boot.PortCaptureMessages) Captured += Message;
    PrintChannel(Out, "port capture on 0x80 (" + std::to_string(Boot.PortCaptureMessages.size()) + " messages)",
                 Captured);
  }
  if (!Boot.HaltWindows.empty()) {
    Out << "\nfatal-stop display before the halt (port 0x80):";
    for (size_t Index = 0; Index < Boot.HaltWindows.size(); Index++) {
      Out << (Index % 6 == 0 ? "\n  " : " ") << Hex(Boot.HaltWindows[Index], 8);
    }
    Out << "\n";
  }
  PrintAccessReport(Out, Boot, ActiveCostModel());
  if (!Boot.Notes.empty()) {
    Out << "\nsimulator notes:\n";
    for (const std::string &Note : Boot.Notes) Out << "  " << Note << "\n";
  }
}

nlohmann::json BootJson(const sim::BootRecord &Boot) {
  nlohmann::json Json;
  Json["image"] = Boot.Image;
  if (!Boot.Traps.empty()) {
    Json["image_base"] = Hex(Boot.ImageBase);
    for (const auto &[Kind, Count] : Boot.Traps) Json["traps"][Kind] = Count;
  }
  Json["machine"] = Boot.Machine;
  Json["entry_status"] = Boot.EntryStatus ? nlohmann::json(StatusName(*Boot.EntryStatus)) : nlohmann::json(nullptr);
  Json["end"] = {{"how", EndText(Boot.End)}, {"code", Boot.End.Code}, {"ran_to_its_end", RanToItsEnd(Boot)}};
  Json["steps"] = Boot.Steps;
  for (const auto &Entry : Boot.Installed) Json["installed"].push_back({{"handle", Entry.Handle}, {"protocol", Entry.Protocol}});
  Json["armed_events"] = nlohmann::json::array();
  for (const auto &Event : Boot.Armed) {
    Json["armed_events"].push_back(
        {{"notify", Event.Notify}, {"tpl", Event.Tpl}, {"group", Event.Group}, {"waits_for", Event.WaitsFor}});
  }
  Json["post_codes"] = nlohmann::json::array();
  for (const auto &[Port, Value] : Boot.PostCodes) Json["post_codes"].push_back({{"port", Port}, {"value", Value}});
  Json["test_points"] = Boot.TestPoints;
  Json["test_point_names"] = nlohmann::json::array();
  for (uint32_t Value : Boot.TestPoints) Json["test_point_names"].push_back(TestPointName(Value));
  Json["fatal_stops"] = Boot.FatalStops;
  Json["msr_changes"] = nlohmann::json::array();
  for (const auto &Change : Boot.MsrChanges) {
    Json["msr_changes"].push_back({{"msr", Hex(Change.Msr, 8)},
                                   {"name", MsrName(Change.Msr)},
                                   {"before", Hex(Change.Before, 16)},
                                   {"after", Hex(Change.After, 16)},
                                   {"processors", Change.Processors}});
  }
  Json["pcd_writes"] = nlohmann::json::array();
  for (const auto &[Token, Value] : Boot.PcdWrites) {
    Json["pcd_writes"].push_back({{"item", sim::PcdItemName(Token)}, {"token", Token}, {"value", Hex(Value)}});
  }
  Json["variables"] = nlohmann::json::array();
  for (const auto &[Name, Data] : Boot.Variables) Json["variables"].push_back({{"name", Name}, {"data", Bytes(Data)}});
  Json["debug_output"] = {{"uart_3f8", Boot.Uart3F8},
                          {"legacy_serial_2f8", Boot.Legacy2F8},
                          {"port_capture_messages", Boot.PortCaptureMessages}};
  Json["halt_windows"] = Boot.HaltWindows;
  Json["option_hooks"] = nlohmann::json::array();
  for (const sim::OptionHookCall &Call : Boot.OptionHooks) {
    Json["option_hooks"].push_back({{"hook", Hex(Call.HookId, 8)},
                                    {"name", OptionHookName(Call.HookId)},
                                    {"request", sim::OptionRequestName(Call.Request)},
                                    {"status", StatusName(Call.Status)}});
  }
  Json["sibling_faults"] = SiblingFaultsJson(Boot);
  Json["smram"] = SmmJson(Boot);
  Json["heap"] = HeapJson(Boot.Heap);
  Json["tokens_smu_s3"] = S3TokensJson(Boot);
  Json.update(SnpAndBootEventsJson(Boot));
  Json["hardware_accesses"] = AccessReportJson(Boot, ActiveCostModel());
  Json["simulator_notes"] = Boot.Notes;
  return Json;
}

}  // namespace ccxsim
