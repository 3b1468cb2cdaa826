// The ACPI processor data service. GetPstateInfo walks every thread of the system once, numbering
// each by its APIC ID into its socket's record, and gives every socket the P-state table of the
// processor that runs the call. Results are heap buffers under fixed handles, so that the caller
// and later phases find them again; the heap refuses a handle twice, so each is built once a boot.
#include "services/AcpiServices.h"

#include "arch/Memory.h"
#include "arch/Msr.h"
#include "arch/Processor.h"
#include "debug/FatalStop.h"
#include "driver/Heap.h"
#include "driver/ImageState.h"
#include "interfaces/PcdAccess.h"
#include "services/CoreRegisters.h"
#include "services/PstateFrequency.h"
#include "services/TopologyWalk.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kFatalPstateInfoNoMemory = 0x30790416;
constexpr UINT32 kFatalTooManyApicIds = 0x30790439;
constexpr UINT32 kFatalBadPstatePolicy = 0x30790464;
constexpr UINT32 kFatalPowerStateNoMemory = 0x30790546;
constexpr UINT32 kFatalNoThreadsPerCore = 0x30790603;

// Both results stay for the rest of the boot; the persistence code says so to the other drivers.
constexpr UINT8 kResultPersistence = 4;

// The P-state objects of a socket are worth building only with a choice of at least two states.
constexpr UINT32 kMinPstatesForObjects = 2;

constexpr UINT8 kPolicyOff = 0;
constexpr UINT8 kPolicyOn = 1;
constexpr UINT8 kPolicyOffAlternate = 2;

constexpr UINT8 kIoPowerStateModeOn = 1;

// A heap buffer of Size bytes under Handle, zero-filled; null when the heap refuses it.
VOID *AllocateResult(UINT32 Handle, UINT32 Size) {
  HEAP_ALLOCATE_REQUEST Request = {};
  Request.Size = Size;
  Request.Handle = Handle;
  Request.Persistence = kResultPersistence;
  if (HeapAllocateBuffer(&Request) != HEAP_SUCCESS) {
    return nullptr;
  }
  return reinterpret_cast<VOID *>(static_cast<UINTN>(Request.Buffer));
}

// The enabled P-states from 0 to PstateMaxVal, packed at the front of the list in ascending order.
// The entry after the last enabled one is cleared, so that a shorter table than an earlier one
// still ends in a zero entry.
UINT32 BuildPstateList(PSTATE_ENTRY *Entries, UINT32 PstateMaxVal) {
  UINT32 Enabled = 0;
  for (UINT32 Pstate = 0; Pstate <= PstateMaxVal; Pstate++) {
    PSTATE_ENTRY &Entry = Entries[Enabled];
    Entry = PSTATE_ENTRY{};
    UINT64 Frequency = 0;
    UINT64 Voltage = 0;
    UINT64 Power = 0;
    if (RellGetPstateFrequency(nullptr, Pstate, &Frequency, &Voltage, &Power)) {
      Entry.Valid = 1;
      Entry.FrequencyInMHz = static_cast<UINT32>(Frequency);
      Entry.PowerInMilliwatts = static_cast<UINT32>(Power);
      Entry.PstateNumber = Pstate;
      Enabled++;
    }
  }
  return Enabled;
}

VOID UpdatePolicyFlag(PSTATE_SOCKET_RECORD *Record) {
  switch (GetPcdProtocol()->Get8(PcdCcxAcpiPstatePolicy)) {
    case kPolicyOff:
    case kPolicyOffAlternate:
      Record->PolicyFlag = 0;
      break;
    case kPolicyOn:
      Record->PolicyFlag = 1;
      break;
    default:
      FatalStop(kFatalBadPstatePolicy);
      break;
  }
}

// Walks every thread and fills one record per socket. The buffer holds SocketCount records; a
// walk that reaches a further socket stops before writing it and leaves the records written. A
// walk cut short by a failed count query leaves threads out, and is an error too; its records are
// then cleared.
EFI_STATUS FillSocketRecords(PSTATE_INFO_HEADER *Header, UINT32 SocketCount, UINT32 PstateMaxVal) {
  TOPOLOGY_POSITION At;
  PSTATE_SOCKET_RECORD *Record = PstateFirstSocketRecord(Header);
  UINT32 RecordIndex = 0;
  UINT32 Count = 0;
  for (;;) {
    const INTN Step = TopologyNextPosition(&At, gImage.Init.TopologyServices);
    if (Step == StepEnd) {
      const EFI_STATUS Status = TopologyWalkResult("GetPstateInfo", At);
      if (EFI_ERROR(Status)) {
        // The buffer stays under its handle, where later phases find it: a record with threads
        // missing is left empty instead, with no P-state objects and no APIC IDs counted.
        ZeroMemory(PstateFirstSocketRecord(Header), Header->BufferSize - sizeof(PSTATE_INFO_HEADER));
      }
      return Status;
    }
    if (Step == StepSocket) {
      Count = 0;
      if (At.Socket != 0) {
        Record = PstateNextSocketRecord(Record, PstateMaxVal);
        RecordIndex++;
      }
      if (RecordIndex >= SocketCount) {
        FatalStop(kFatalPstateInfoSocketOverflow);
        return EFI_DEVICE_ERROR;
      }
    }

    if (Count < PSTATE_MAX_APIC_IDS) {
      Record->ApicId[Count] = CcxGetApicIdAt(At);
    } else {
      FatalStop(kFatalTooManyApicIds);
    }
    Count++;
    // The count says how many entries of the list hold an APIC ID, so it stops at the list's end
    // even when the socket has more threads.
    Record->Reserved = 0;
    Record->ApicIdCount = static_cast<UINT16>(Count < PSTATE_MAX_APIC_IDS ? Count : PSTATE_MAX_APIC_IDS);
    Record->Socket = static_cast<UINT8>(At.Socket);
    Record->PstateObjectsValid = 1;
    Record->PstateMaxVal = static_cast<UINT8>(PstateMaxVal);
    UpdatePolicyFlag(Record);
    if (BuildPstateList(PstateSocketEntries(Record), PstateMaxVal) < kMinPstatesForObjects) {
      Record->PstateObjectsValid = 0;
    }
  }
}

}  // namespace

EFI_STATUS EFIAPI GetPstateInfo(QORVEX_CCX_ACPI_SERVICES_PROTOCOL *This, PSTATE_INFO_HEADER **PstateInfo) {
  if (PstateInfo == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  const UINT32 PstateMaxVal =
      static_cast<UINT32>(Msr::PstateCurLim::PstateMaxVal::Get(AsmReadMsr64(Msr::PstateCurLim::Number)));

  QORVEX_FABRIC_SYSTEM_SERVICES_PROTOCOL *System = gImage.Init.SystemServices;
  UINTN Sockets = 0;
  if (System == nullptr || System->GetSystemInfo(System, &Sockets, nullptr, nullptr, nullptr, nullptr) != EFI_SUCCESS) {
    return EFI_DEVICE_ERROR;
  }
  // A socket count whose buffer would not fit the 32-bit size field is no count a system has.
  const UINT32 SocketCount = static_cast<UINT32>(Sockets);
  UINT32 BufferSize = 0;
  if (!PstateInfoBufferSize(SocketCount, PstateMaxVal, &BufferSize)) {
    return EFI_DEVICE_ERROR;
  }

  auto *Header = static_cast<PSTATE_INFO_HEADER *>(AllocateResult(HEAP_HANDLE_PSTATE_INFO, BufferSize));
  if (Header == nullptr) {
    FatalStop(kFatalPstateInfoNoMemory);
    return EFI_OUT_OF_RESOURCES;
  }
  Header->SocketCount = static_cast<UINT8>(SocketCount);
  Header->BufferSize = BufferSize;
  const EFI_STATUS Status = FillSocketRecords(Header, SocketCount, PstateMaxVal);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  *PstateInfo = Header;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI GetPowerStateInfo(QORVEX_CCX_ACPI_SERVICES_PROTOCOL *This, POWER_STATE_RECORD **PowerState) {
  if (PowerState == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto *Record =
      static_cast<POWER_STATE_RECORD *>(AllocateResult(HEAP_HANDLE_POWER_STATE, sizeof(POWER_STATE_RECORD)));
  if (Record == nullptr) {
    FatalStop(kFatalPowerStateNoMemory);
    return EFI_OUT_OF_RESOURCES;
  }
  PCD_PROTOCOL *Pcd = GetPcdProtocol();
  const UINT8 Mode = Pcd->Get8(PcdCcxIoPowerStateMode);
  Record->Enabled = (Mode == kIoPowerStateModeOn && Pcd->Get16(PcdCcxIoPowerStateBaseAddress) != 0) ? 1 : 0;
  Record->IoBaseAddress = Pcd->Get16(PcdCcxIoPowerStateBaseAddress);
  Record->MultiThreaded = GetThreadsPerCore() > 1 ? 1 : 0;
  Record->AlwaysOne = 1;
  Record->PowerStateWord1 = Pcd->Get16(PcdCcxPowerStateWord1);
  Record->PowerStateWord2 = Pcd->Get16(PcdCcxPowerStateWord2);
  Record->PowerStateWord3 = Pcd->Get16(PcdCcxPowerStateWord3);
  *PowerState = Record;
  return EFI_SUCCESS;
}

// A part that reports no threads per core cannot be divided by; its count is taken as one thread
// per core.
UINT32 EFIAPI ThreadsToCores(QORVEX_CCX_ACPI_SERVICES_PROTOCOL *This, UINT32 Threads) {
  const UINT8 ThreadsPerCore = GetThreadsPerCore();
  if (ThreadsPerCore == 0) {
    FatalStop(kFatalNoThreadsPerCore);
    return Threads;
  }
  return Threads / ThreadsPerCore;
}

EFI_STATUS EFIAPI GetPstatePower(QORVEX_CCX_ACPI_SERVICES_PROTOCOL *This, UINT32 Pstate, UINT64 *PowerInMilliwatts) {
  if (PowerInMilliwatts == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  UINT64 Frequency = 0;
  UINT64 Voltage = 0;
  RellGetPstateFrequency(nullptr, Pstate, &Frequency, &Voltage, PowerInMilliwatts);
  return EFI_SUCCESS;
}

const QORVEX_CCX_ACPI_SERVICES_PROTOCOL gCcxAcpiServicesProtocol = {
    .Revision = QORVEX_CCX_ACPI_SERVICES_REVISION,
    .GetPstateInfo = GetPstateInfo,
    .GetPowerStateInfo = GetPowerStateInfo,
    .ThreadsToCores = ThreadsToCores,
    .GetPstatePower = GetPstatePower,
};

}  // namespace CCX_IMAGE_NAMESPACE
