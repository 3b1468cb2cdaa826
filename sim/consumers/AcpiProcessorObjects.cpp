#include "sim/consumers/AcpiProcessorObjects.h"

#include <algorithm>

#include "arch/Msr.h"
#include "interfaces/CcxAcpiServices.h"
#include "interfaces/QorvexGuids.h"
#include "sim/oracle/AcpiProcessorOracle.h"
#include "sim/oracle/AnswerCheck.h"

namespace sim {
namespace {

// The differing APIC IDs named one by one per socket; the rest are counted.
constexpr size_t kDifferencesShown = 8;
// What GetPstatePower is handed, so that a value left alone can be told from one written.
constexpr UINT64 kUntouchedPower = 0xDEADBEEFDEADBEEFULL;

// Reads the socket records the way a table builder must: only within the size the buffer declares.
void ReadSocketRecords(QORVEX_CCX_ACPI_SERVICES_PROTOCOL *Service, PSTATE_INFO_HEADER *Header,
                       AcpiProcessorReport &Report) {
  AnswerCheck Check("GetPstateInfo", Report.Errors);
  Report.SocketCount = Header->SocketCount;
  Report.BufferSize = Header->BufferSize;
  PSTATE_SOCKET_RECORD *Record = PstateFirstSocketRecord(Header);
  if (Report.SocketCount == 0) return;
  if (sizeof(PSTATE_INFO_HEADER) + sizeof(PSTATE_SOCKET_RECORD) > Report.BufferSize) {
    Check.Problem("buffer", "its " + std::to_string(Report.BufferSize) +
                                " bytes are too few for even one socket record");
    return;
  }
  const uint32_t PstateMaxVal = Record->PstateMaxVal;
  const uint64_t Needed =
      sizeof(PSTATE_INFO_HEADER) + uint64_t(Report.SocketCount) * PstateSocketRecordSize(PstateMaxVal);
  if (PstateMaxVal >= Msr::PstateDefCount || Needed > Report.BufferSize) {
    Check.Problem("buffer", "its " + std::to_string(Report.BufferSize) + " bytes cannot hold " +
                                std::to_string(Report.SocketCount) + " socket records with P-states up to " +
                                std::to_string(PstateMaxVal));
    return;
  }
  for (uint32_t Index = 0; Index < Report.SocketCount; Index++, Record = PstateNextSocketRecord(Record, PstateMaxVal)) {
    AcpiSocketObjects Socket;
    Socket.Socket = Record->Socket;
    Socket.ApicIdCount = Record->ApicIdCount;
    Socket.PstateObjectsValid = Record->PstateObjectsValid;
    Socket.PstateMaxVal = Record->PstateMaxVal;
    Socket.Reserved = Record->Reserved;
    Socket.PolicyFlag = Record->PolicyFlag;
    // The list lies unaligned in the packed record: each entry is copied out before it is kept.
    const uint32_t Listed = std::min<uint32_t>(Socket.ApicIdCount, PSTATE_MAX_APIC_IDS);
    for (uint32_t Id = 0; Id < Listed; Id++) {
      const uint32_t ApicId = Record->ApicId[Id];
      Socket.ApicIds.push_back(ApicId);
    }
    Socket.Cores = Service->ThreadsToCores(Service, Socket.ApicIdCount);
    // Every record has the first one's length, so each holds PstateMaxVal + 1 entries of the first.
    const PSTATE_ENTRY *Entries = PstateSocketEntries(Record);
    for (uint32_t Entry = 0; Entry <= PstateMaxVal; Entry++) {
      const PSTATE_ENTRY Raw = Entries[Entry];
      Socket.Entries.push_back({Raw.Valid, Raw.FrequencyInMHz, Raw.PowerInMilliwatts, Raw.PstateNumber});
    }
    for (const AcpiPstateEntry &Entry : Socket.Entries) {
      if (Entry.Valid == 0) break;
      Socket.Pstates.push_back({Entry.Number, Entry.FrequencyMHz, Entry.PowerMw});
    }
    Report.Sockets.push_back(std::move(Socket));
  }
}

void CheckApicIds(const std::string &Record, const std::vector<uint32_t> &Expected, const AcpiSocketObjects &Socket,
                  AnswerCheck &Check) {
  size_t Differing = 0;
  const size_t Listed = std::min<size_t>(Expected.size(), PSTATE_MAX_APIC_IDS);
  for (size_t Thread = 0; Thread < Listed && Thread < Socket.ApicIds.size(); Thread++) {
    if (Socket.ApicIds[Thread] == Expected[Thread]) continue;
    if (++Differing > kDifferencesShown) continue;
    Check.Field(Record, "ApicId[" + std::to_string(Thread) + "]", Expected[Thread], Socket.ApicIds[Thread]);
  }
  if (Differing > kDifferencesShown) {
    Check.Problem(Record, std::to_string(Differing - kDifferencesShown) + " more APIC IDs differ");
  }
}

void CheckEntries(const std::string &Socket, const ExpectedPstateInfo &Expected, const AcpiSocketObjects &Received,
                  AnswerCheck &Check) {
  for (size_t Index = 0; Index < Received.Entries.size(); Index++) {
    // The enabled P-states come first; every entry after them is all zero.
    PstateFigures Want;
    uint32_t Valid = 0;
    if (Index < Expected.Pstates.size()) {
      Want = Expected.Pstates[Index];
      Valid = 1;
    }
    const AcpiPstateEntry &Got = Received.Entries[Index];
    const std::string Record = Socket + " P-state entry " + std::to_string(Index);
    Check.Field(Record, "Valid", Valid, Got.Valid);
    Check.Field(Record, "PstateNumber", Want.Number, Got.Number);
    Check.Field(Record, "FrequencyInMHz", static_cast<uint32_t>(Want.FrequencyMHz), Got.FrequencyMHz);
    Check.Field(Record, "PowerInMilliwatts", static_cast<uint32_t>(Want.PowerMw), Got.PowerMw);
  }
}

// Every field of the buffer against the machine, and ThreadsToCores on each socket's count.
void CheckPstateInfo(const ExpectedPstateInfo &Expected, AcpiProcessorReport &Report) {
  AnswerCheck Check("GetPstateInfo", Report.Errors);
  AnswerCheck Cores("ThreadsToCores", Report.Errors);
  Check.Field("header", "SocketCount", Expected.SocketCount, Report.SocketCount);
  Check.Field("header", "BufferSize", Expected.BufferSize, Report.BufferSize);
  Report.ApicIdsChecked = true;
  for (size_t Index = 0; Index < Report.Sockets.size() && Index < Expected.Sockets.size(); Index++) {
    const AcpiSocketObjects &Socket = Report.Sockets[Index];
    const ExpectedPstateSocket &Want = Expected.Sockets[Index];
    const std::string Record = "socket record " + std::to_string(Index);
    Check.Field(Record, "Socket", Want.Socket, Socket.Socket);
    Check.Field(Record, "ApicIdCount", Want.ApicIds.size(), Socket.ApicIdCount);
    Check.Field(Record, "PstateObjectsValid", Expected.PstateObjectsValid, Socket.PstateObjectsValid);
    Check.Field(Record, "PstateMaxVal", Expected.PstateMaxVal, Socket.PstateMaxVal);
    Check.Field(Record, "Reserved", 0, Socket.Reserved);
    Check.Field(Record, "PolicyFlag", Expected.PolicyFlag, Socket.PolicyFlag);
    CheckApicIds(Record, Want.ApicIds, Socket, Check);
    CheckEntries("socket " + std::to_string(Index), Expected, Socket, Check);
    Cores.Field("socket " + std::to_string(Index) + " (" + std::to_string(Socket.ApicIdCount) + " threads)",
                "cores", Socket.ApicIdCount / Expected.ThreadsPerCore, Socket.Cores);
  }
}

// GetPstatePower on every P-state definition: the power of an enabled one, and the caller's value
// left alone for one that is not.
void CheckPstatePower(QORVEX_CCX_ACPI_SERVICES_PROTOCOL *Service, const ExpectedPstateInfo &Expected,
                      AcpiProcessorReport &Report) {
  AnswerCheck Check("GetPstatePower", Report.Errors);
  for (uint32_t Pstate = 0; Pstate < Expected.AllPstates.size(); Pstate++) {
    UINT64 Power = kUntouchedPower;
    const EFI_STATUS Status = Service->GetPstatePower(Service, Pstate, &Power);
    const std::string Record = "P-state " + std::to_string(Pstate);
    Check.Field(Record, "status", EFI_SUCCESS, Status);
    const auto &Figures = Expected.AllPstates[Pstate];
    Check.Field(Record, "PowerInMilliwatts", Figures ? Figures->PowerMw : kUntouchedPower, Power);
  }
}

void CheckPowerState(const ExpectedPowerState &Expected, const AcpiPowerState &State,
                     std::vector<std::string> &Errors) {
  AnswerCheck Check("GetPowerStateInfo", Errors);
  const std::string Record = "power-state record";
  Check.Field(Record, "Enabled", Expected.Enabled, State.Enabled);
  Check.Field(Record, "IoBaseAddress", Expected.IoBaseAddress, State.IoBaseAddress);
  Check.Field(Record, "MultiThreaded", Expected.MultiThreaded, State.MultiThreaded);
  Check.Field(Record, "AlwaysOne", Expected.AlwaysOne, State.AlwaysOne);
  for (size_t Word = 0; Word < 3; Word++) {
    Check.Field(Record, "PowerStateWord" + std::to_string(Word + 1), Expected.Words[Word], State.Words[Word]);
  }
  for (size_t Byte = 0; Byte < 2; Byte++) {
    Check.Field(Record, "Reserved[" + std::to_string(Byte) + "]", 0, State.Reserved[Byte]);
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
  const ExpectedPstateInfo Expected = ExpectedAcpiPstateInfo(Machine);

  PSTATE_INFO_HEADER *Header = nullptr;
  Report.PstateInfoStatus = Service->GetPstateInfo(Service, &Header);
  if (*Report.PstateInfoStatus == EFI_SUCCESS && Header != nullptr) {
    ReadSocketRecords(Service, Header, Report);
    CheckPstateInfo(Expected, Report);
  }
  CheckPstatePower(Service, Expected, Report);

  POWER_STATE_RECORD *PowerState = nullptr;
  Report.PowerStateStatus = Service->GetPowerStateInfo(Service, &PowerState);
  if (*Report.PowerStateStatus == EFI_SUCCESS && PowerState != nullptr) {
    AcpiPowerState State;
    State.Enabled = PowerState->Enabled;
    State.IoBaseAddress = PowerState->IoBaseAddress;
    State.MultiThreaded = PowerState->MultiThreaded;
    State.AlwaysOne = PowerState->AlwaysOne;
    State.Words[0] = PowerState->PowerStateWord1;
    State.Words[1] = PowerState->PowerStateWord2;
    State.Words[2] = PowerState->PowerStateWord3;
    State.Reserved[0] = PowerState->Reserved[0];
    State.Reserved[1] = PowerState->Reserved[1];
    Report.PowerState = State;
    CheckPowerState(ExpectedAcpiPowerState(Machine), State, Report.Errors);
  }
  return Report;
}

}  // namespace sim
