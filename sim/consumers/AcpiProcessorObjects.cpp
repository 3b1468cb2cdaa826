#include "sim/consumers/AcpiProcessorObjects.h"

#include <cstdio>
#include <map>

#include "arch/Msr.h"
#include "interfaces/CcxAcpiServices.h"
#include "interfaces/QorvexGuids.h"
#include "sim/HexText.h"

namespace sim {
namespace {

// The differing threads listed one by one per socket; the rest are counted.
constexpr size_t kDifferencesShown = 8;

// Reads the socket records the way a table builder must: only within the size the buffer declares.
void ReadSocketRecords(QORVEX_CCX_ACPI_SERVICES_PROTOCOL *Service, PSTATE_INFO_HEADER *Header,
                       AcpiProcessorReport &Report) {
  Report.SocketCount = Header->SocketCount;
  Report.BufferSize = Header->BufferSize;
  PSTATE_SOCKET_RECORD *Record = PstateFirstSocketRecord(Header);
  if (Report.SocketCount == 0) return;
  if (sizeof(PSTATE_INFO_HEADER) + sizeof(PSTATE_SOCKET_RECORD) > Report.BufferSize) {
    Report.Errors.push_back("the P-state buffer of " + std::to_string(Report.BufferSize) +
                            " bytes is too small for even one socket record");
    return;
  }
  const uint32_t PstateMaxVal = Record->PstateMaxVal;
  const uint64_t Needed =
      sizeof(PSTATE_INFO_HEADER) + uint64_t(Report.SocketCount) * PstateSocketRecordSize(PstateMaxVal);
  if (PstateMaxVal >= Msr::PstateDefCount || Needed > Report.BufferSize) {
    Report.Errors.push_back("the P-state buffer of " + std::to_string(Report.BufferSize) + " bytes cannot hold " +
                            std::to_string(Report.SocketCount) + " socket records with P-states up to " +
                            std::to_string(PstateMaxVal));
    return;
  }
  for (uint32_t Index = 0; Index < Report.SocketCount; Index++, Record = PstateNextSocketRecord(Record, PstateMaxVal)) {
    AcpiSocketObjects Socket;
    Socket.Socket = Record->Socket;
    Socket.PstateObjectsValid = Record->PstateObjectsValid != 0;
    Socket.PstateMaxVal = Record->PstateMaxVal;
    Socket.PolicyFlag = Record->PolicyFlag != 0;
    uint32_t Count = Record->ApicIdCount;
    if (Count > PSTATE_MAX_APIC_IDS) {
      Report.Errors.push_back("socket record " + std::to_string(Index) + " claims " + std::to_string(Count) +
                              " APIC IDs, more than its list holds");
      Count = PSTATE_MAX_APIC_IDS;
    }
    // The list lies unaligned in the packed record: each entry is copied out before it is kept.
    for (uint32_t Id = 0; Id < Count; Id++) {
      const uint32_t ApicId = Record->ApicId[Id];
      Socket.ApicIds.push_back(ApicId);
    }
    Socket.Cores = Service->ThreadsToCores(Service, Count);
    if (Socket.PstateMaxVal != PstateMaxVal) {
      Report.Errors.push_back("socket record " + std::to_string(Index) + " has P-states up to " +
                              std::to_string(Socket.PstateMaxVal) + ", the first one up to " +
                              std::to_string(PstateMaxVal));
    }
    const PSTATE_ENTRY *Entries = PstateSocketEntries(Record);
    for (uint32_t Entry = 0; Entry <= PstateMaxVal && Entries[Entry].Valid != 0; Entry++) {
      Socket.Pstates.push_back({Entries[Entry].PstateNumber, Entries[Entry].FrequencyInMHz,
                                Entries[Entry].PowerInMilliwatts});
    }
    Report.Sockets.push_back(std::move(Socket));
  }
}

// Each socket's list holds exactly the APIC IDs of its processors, in the order of the walk.
void CheckApicIds(Platform &Machine, AcpiProcessorReport &Report) {
  std::map<uint32_t, std::vector<size_t>> BySocket;
  for (size_t Index = 0; Index < Machine.Processors().Count(); Index++) {
    BySocket[Machine.Processors().At(Index).Position().Socket].push_back(Index);
  }
  Report.ApicIdsChecked = true;
  if (Report.Sockets.size() != BySocket.size()) {
    Report.Errors.push_back("the driver reports " + std::to_string(Report.Sockets.size()) +
                            " sockets, the machine has " + std::to_string(BySocket.size()));
  }
  for (size_t Index = 0; Index < Report.Sockets.size() && Index < BySocket.size(); Index++) {
    const AcpiSocketObjects &Socket = Report.Sockets[Index];
    if (Socket.Socket != Index) {
      Report.Errors.push_back("socket record " + std::to_string(Index) + " names socket " +
                              std::to_string(Socket.Socket));
    }
    const std::vector<size_t> &Processors = BySocket[static_cast<uint32_t>(Index)];
    if (Socket.ApicIds.size() != Processors.size()) {
      Report.Errors.push_back("socket " + std::to_string(Index) + ": the driver lists " +
                              std::to_string(Socket.ApicIds.size()) + " APIC IDs, the socket has " +
                              std::to_string(Processors.size()) + " processors");
    }
    size_t Differing = 0;
    for (size_t Thread = 0; Thread < Socket.ApicIds.size() && Thread < Processors.size(); Thread++) {
      const Processor &Expected = Machine.Processors().At(Processors[Thread]);
      if (Socket.ApicIds[Thread] == Expected.ApicId()) continue;
      if (++Differing > kDifferencesShown) continue;
      Report.Errors.push_back("socket " + std::to_string(Index) + " thread " + std::to_string(Thread) +
                              ": the driver reports APIC ID " + Hex(Socket.ApicIds[Thread]) + ", processor " +
                              std::to_string(Expected.Index()) + " (" + Expected.Position().Describe() + ") has " +
                              Hex(Expected.ApicId()));
    }
    if (Differing > kDifferencesShown) {
      Report.Errors.push_back("socket " + std::to_string(Index) + ": " + std::to_string(Differing - kDifferencesShown) +
                              " more threads have an APIC ID other than their processor's");
    }
  }
}

// The table lists the P-states the BSP's definition registers enable, up to its highest number,
// and GetPstatePower agrees with the table on each one's power.
void CheckPstates(QORVEX_CCX_ACPI_SERVICES_PROTOCOL *Service, Platform &Machine, AcpiProcessorReport &Report) {
  const Processor &Bsp = Machine.Processors().Bsp();
  const uint64_t Limit = Bsp.PeekMsr(Msr::PstateCurLim::Number).value_or(0);
  const uint32_t PstateMaxVal = static_cast<uint32_t>(Msr::PstateCurLim::PstateMaxVal::Get(Limit));
  std::vector<uint32_t> Enabled;
  for (uint32_t Pstate = 0; Pstate <= PstateMaxVal; Pstate++) {
    const uint64_t Definition = Bsp.PeekMsr(Msr::PstateDef::FirstNumber + Pstate).value_or(0);
    if (Msr::PstateDef::PstateEn::IsSet(Definition)) Enabled.push_back(Pstate);
  }
  for (const AcpiSocketObjects &Socket : Report.Sockets) {
    std::vector<uint32_t> Listed;
    for (const AcpiPstate &Pstate : Socket.Pstates) {
      Listed.push_back(Pstate.Number);
      UINT64 Power = ~0ULL;
      if (Service->GetPstatePower(Service, Pstate.Number, &Power) != EFI_SUCCESS || Power != Pstate.PowerMw) {
        Report.Errors.push_back("socket " + std::to_string(Socket.Socket) + " P" + std::to_string(Pstate.Number) +
                                ": GetPstatePower gives " + std::to_string(Power) + " mW, the table " +
                                std::to_string(Pstate.PowerMw) + " mW");
      }
    }
    if (Listed != Enabled) {
      std::string Want, Got;
      for (uint32_t Number : Enabled) Want += " P" + std::to_string(Number);
      for (uint32_t Number : Listed) Got += " P" + std::to_string(Number);
      Report.Errors.push_back("socket " + std::to_string(Socket.Socket) + " lists P-states" +
                              (Got.empty() ? " none" : Got) + ", the machine enables" +
                              (Want.empty() ? " none" : Want));
    }
  }
}

}  // namespace

AcpiProcessorReport BuildAcpiProcessorObjects(Platform &Machine) {
  AcpiProcessorReport Report;
  VOID *Interface = nullptr;
  EFI_BOOT_SERVICES *BootServices = Machine.Core().BootServices();
  if (EFI_ERROR(BootServices->LocateProtocol(&gQorvexCcxAcpiServicesProtocolGuid, nullptr, &Interface)) ||
      Interface == nullptr) {
    return Report;
  }
  Report.ServiceFound = true;
  auto *Service = static_cast<QORVEX_CCX_ACPI_SERVICES_PROTOCOL *>(Interface);

  PSTATE_INFO_HEADER *Header = nullptr;
  Report.PstateInfoStatus = Service->GetPstateInfo(Service, &Header);
  if (*Report.PstateInfoStatus == EFI_SUCCESS && Header != nullptr) {
    ReadSocketRecords(Service, Header, Report);
    CheckApicIds(Machine, Report);
    CheckPstates(Service, Machine, Report);
  }

  POWER_STATE_RECORD *PowerState = nullptr;
  Report.PowerStateStatus = Service->GetPowerStateInfo(Service, &PowerState);
  if (*Report.PowerStateStatus == EFI_SUCCESS && PowerState != nullptr) {
    AcpiPowerState State;
    State.Enabled = PowerState->Enabled != 0;
    State.IoBaseAddress = PowerState->IoBaseAddress;
    State.MultiThreaded = PowerState->MultiThreaded != 0;
    State.AlwaysOne = PowerState->AlwaysOne;
    State.Words[0] = PowerState->PowerStateWord1;
    State.Words[1] = PowerState->PowerStateWord2;
    State.Words[2] = PowerState->PowerStateWord3;
    Report.PowerState = State;
  }
  return Report;
}

}  // namespace sim
