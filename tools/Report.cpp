#include "tools/Report.h"

#include <cstdio>
#include <map>
#include <sstream>

namespace ccxsim {
namespace {

std::string Hex(uint64_t Value, int Digits = 0) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "0x%0*llX", Digits, static_cast<unsigned long long>(Value));
  return Text;
}

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

}  // namespace

std::string StatusName(uint64_t Status) {
  static const std::map<uint64_t, const char *> kNames = {
      {0, "EFI_SUCCESS"},
      {0x8000000000000001ULL, "EFI_LOAD_ERROR"},
      {0x8000000000000002ULL, "EFI_INVALID_PARAMETER"},
      {0x8000000000000003ULL, "EFI_UNSUPPORTED"},
      {0x8000000000000004ULL, "EFI_BAD_BUFFER_SIZE"},
      {0x8000000000000005ULL, "EFI_BUFFER_TOO_SMALL"},
      {0x8000000000000006ULL, "EFI_NOT_READY"},
      {0x8000000000000007ULL, "EFI_DEVICE_ERROR"},
      {0x8000000000000008ULL, "EFI_WRITE_PROTECTED"},
      {0x8000000000000009ULL, "EFI_OUT_OF_RESOURCES"},
      {0x800000000000000EULL, "EFI_NOT_FOUND"},
      {0x800000000000000FULL, "EFI_ACCESS_DENIED"},
      {0x8000000000000012ULL, "EFI_TIMEOUT"},
      {0x8000000000000013ULL, "EFI_NOT_STARTED"},
      {0x8000000000000014ULL, "EFI_ALREADY_STARTED"},
      {0x8000000000000015ULL, "EFI_ABORTED"},
      {0x8000000000000019ULL, "EFI_INCOMPATIBLE_VERSION"},
      {0x800000000000001AULL, "EFI_SECURITY_VIOLATION"},
      {1, "EFI_WARN_UNKNOWN_GLYPH"},
      {2, "EFI_WARN_DELETE_FAILURE"},
      {3, "EFI_WARN_WRITE_FAILURE"},
      {4, "EFI_WARN_BUFFER_TOO_SMALL"},
      {5, "EFI_WARN_STALE_DATA"},
      {6, "EFI_WARN_FILE_SYSTEM"},
      {7, "EFI_WARN_RESET_REQUIRED"},
  };
  auto It = kNames.find(Status);
  return It != kNames.end() ? It->second : Hex(Status, 16);
}

bool RanToItsEnd(const sim::BootRecord &Boot) {
  return Boot.End.How == sim::BootEnd::Returned || Boot.End.How == sim::BootEnd::Reset;
}

void PrintMachine(std::ostream &Out, const sim::Machine &Machine, const std::string &Image) {
  Out << "ccxsim: machine \"" << Machine.Name << "\" (" << Machine.Source << "), " << Machine.Shape.Walk().size()
      << " processors; driver image " << Image << "\n";
  if (!Machine.Description.empty()) Out << "  " << Machine.Description << "\n";
}

void PrintBoot(std::ostream &Out, const sim::BootRecord &Boot, size_t Number, size_t Count) {
  Out << "\n=== boot " << Number << " of " << Count << " ===\n";
  Out << "entry status: " << (Boot.EntryStatus ? StatusName(*Boot.EntryStatus) : std::string("(the entry did not return)"))
      << "\n";
  Out << "boot ended:   " << EndText(Boot.End) << "\n";
  Out << "steps:        ";
  for (size_t Index = 0; Index < Boot.Steps.size(); Index++) Out << (Index ? ", " : "") << Boot.Steps[Index];
  Out << "\n";

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
  for (uint32_t Value : Boot.TestPoints) Out << " " << Hex(Value, 8);
  if (Boot.TestPoints.empty()) Out << " none";
  Out << "\n  fatal stops:";
  for (uint32_t Code : Boot.FatalStops) Out << " " << Hex(Code, 8);
  if (Boot.FatalStops.empty()) Out << " none";
  Out << "\n";

  Out << "\nMSRs changed:\n";
  if (Boot.MsrChanges.empty()) Out << "  none\n";
  for (const sim::MsrChange &Change : Boot.MsrChanges) {
    Out << "  " << Hex(Change.Msr, 8) << "  " << Hex(Change.Before, 16) << " -> " << Hex(Change.After, 16) << "  on "
        << Processors(Change.Processors, Boot.ProcessorCount) << "\n";
  }

  Out << "\nconfiguration items written:\n";
  if (Boot.PcdWrites.empty()) Out << "  none\n";
  for (const auto &[Token, Value] : Boot.PcdWrites) Out << "  " << sim::PcdItemName(Token) << " = " << Hex(Value) << "\n";

  Out << "\nvariables:\n";
  if (Boot.Variables.empty()) Out << "  none\n";
  for (const auto &[Name, Data] : Boot.Variables) Out << "  " << Name << ": " << Bytes(Data) << "\n";

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
  if (!Boot.Notes.empty()) {
    Out << "\nsimulator notes:\n";
    for (const std::string &Note : Boot.Notes) Out << "  " << Note << "\n";
  }
}

nlohmann::json BootJson(const sim::BootRecord &Boot) {
  nlohmann::json Json;
  Json["image"] = Boot.Image;
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
  Json["fatal_stops"] = Boot.FatalStops;
  Json["msr_changes"] = nlohmann::json::array();
  for (const auto &Change : Boot.MsrChanges) {
    Json["msr_changes"].push_back({{"msr", Hex(Change.Msr, 8)},
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
  Json["simulator_notes"] = Boot.Notes;
  return Json;
}

}  // namespace ccxsim
