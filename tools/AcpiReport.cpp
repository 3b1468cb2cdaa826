#include "tools/AcpiReport.h"

#include <cstdio>
#include <string>

#include "tools/Report.h"
#include "sim/HexText.h"

namespace ccxsim {
namespace {

using sim::Hex;

// A list of APIC IDs with runs of consecutive numbers written as ranges: "0x0-0xF, 0x20-0x2F".
std::string IdRanges(const std::vector<uint32_t> &Ids) {
  std::string Text;
  for (size_t Index = 0; Index < Ids.size();) {
    size_t End = Index;
    while (End + 1 < Ids.size() && Ids[End + 1] == Ids[End] + 1) End++;
    if (!Text.empty()) Text += ", ";
    Text += Hex(Ids[Index]);
    if (End > Index) Text += "-" + Hex(Ids[End]);
    Index = End + 1;
  }
  return Text.empty() ? "none" : Text;
}

void PrintSocket(std::ostream &Out, const sim::AcpiSocketObjects &Socket) {
  Out << "  socket " << Socket.Socket << ": " << Socket.ApicIds.size() << " APIC IDs (" << Socket.Cores
      << " cores), P-state objects " << (Socket.PstateObjectsValid ? "valid" : "not valid") << ", policy flag "
      << unsigned{Socket.PolicyFlag} << "\n";
  Out << "    APIC IDs: " << IdRanges(Socket.ApicIds) << "\n";
  Out << "    P-states (highest number " << Socket.PstateMaxVal << "):\n";
  if (Socket.Pstates.empty()) Out << "      none\n";
  for (const sim::AcpiPstate &Pstate : Socket.Pstates) {
    char Line[96];
    std::snprintf(Line, sizeof(Line), "      P%u  %5u MHz  %6u mW\n", Pstate.Number, Pstate.FrequencyMHz,
                  Pstate.PowerMw);
    Out << Line;
  }
}

}  // namespace

void PrintAcpiProcessors(std::ostream &Out, const std::optional<sim::AcpiProcessorReport> &Report) {
  Out << "\nACPI processor objects:\n";
  if (!Report) {
    Out << "  (not built: the boot ended (a reset, a halt or a simulator error) before the builder could run)\n";
    return;
  }
  if (!Report->ServiceFound) {
    Out << "  (not built: the driver installed no ACPI services)\n";
    return;
  }
  Out << "  GetPstateInfo: " << StatusName(Report->PstateInfoStatus.value_or(0));
  if (Report->PstateInfoStatus == 0) {
    Out << ", " << Report->SocketCount << (Report->SocketCount == 1 ? " socket" : " sockets") << ", buffer "
        << Hex(Report->BufferSize) << " bytes";
  }
  Out << "\n";
  for (const sim::AcpiSocketObjects &Socket : Report->Sockets) PrintSocket(Out, Socket);
  Out << "  GetPowerStateInfo: " << StatusName(Report->PowerStateStatus.value_or(0)) << "\n";
  if (const auto &State = Report->PowerState) {
    Out << "    enabled " << unsigned{State->Enabled} << ", I/O base " << Hex(State->IoBaseAddress, 4) << ", multithreaded "
        << unsigned{State->MultiThreaded} << ", words " << Hex(State->Words[0], 4) << " " << Hex(State->Words[1], 4) << " "
        << Hex(State->Words[2], 4) << "\n";
  }
  if (!Report->ApicIdsChecked) {
    Out << "  APIC-ID check: not made (no APIC IDs were reported)\n";
  } else if (Report->Errors.empty()) {
    size_t Threads = 0;
    for (const sim::AcpiSocketObjects &Socket : Report->Sockets) Threads += Socket.ApicIds.size();
    Out << "  APIC-ID check: passed, all " << Threads << " APIC IDs are the processors' own, in walk order;"
        << " every P-state, power-state and core-count field is the machine's\n";
  }
  for (const std::string &Error : Report->Errors) Out << "  ERROR: " << Error << "\n";
}

nlohmann::json AcpiProcessorsJson(const std::optional<sim::AcpiProcessorReport> &Report) {
  if (!Report) return nullptr;
  nlohmann::json Json;
  Json["service_found"] = Report->ServiceFound;
  if (Report->PstateInfoStatus) Json["get_pstate_info"] = StatusName(*Report->PstateInfoStatus);
  if (Report->PowerStateStatus) Json["get_power_state_info"] = StatusName(*Report->PowerStateStatus);
  Json["socket_count"] = Report->SocketCount;
  Json["buffer_size"] = Report->BufferSize;
  Json["sockets"] = nlohmann::json::array();
  for (const sim::AcpiSocketObjects &Socket : Report->Sockets) {
    nlohmann::json Pstates = nlohmann::json::array();
    for (const sim::AcpiPstate &Pstate : Socket.Pstates) {
      Pstates.push_back({{"pstate", Pstate.Number}, {"mhz", Pstate.FrequencyMHz}, {"mw", Pstate.PowerMw}});
    }
    Json["sockets"].push_back({{"socket", Socket.Socket},
                               {"apic_ids", Socket.ApicIds},
                               {"cores", Socket.Cores},
                               {"pstate_objects_valid", Socket.PstateObjectsValid != 0},
                               {"pstate_max", Socket.PstateMaxVal},
                               {"policy_flag", Socket.PolicyFlag != 0},
                               {"pstates", Pstates}});
  }
  if (const auto &State = Report->PowerState) {
    Json["power_state"] = {{"enabled", State->Enabled != 0},
                           {"io_base", State->IoBaseAddress},
                           {"multithreaded", State->MultiThreaded != 0},
                           {"always_one", State->AlwaysOne},
                           {"words", {State->Words[0], State->Words[1], State->Words[2]}}};
  }
  Json["apic_ids_checked"] = Report->ApicIdsChecked;
  Json["errors"] = Report->Errors;
  return Json;
}

}  // namespace ccxsim
