// The PCCT and HEST builders. The PCCT holds the one generic communication subspace the driver
// adds; the HEST holds one IA-32 machine-check error source made from the driver's bank
// description. Both compare what the service answered with the machine before they use it.
#include <algorithm>
#include <cstring>

#include "interfaces/CcxMcaServices.h"
#include "interfaces/QorvexGuids.h"
#include "sim/consumers/AcpiTableBytes.h"
#include "sim/consumers/PlatformTables.h"
#include "sim/oracle/PcctHestOracle.h"

namespace sim {
namespace {

// PCCT revision 2 has the 4-byte flags and 8 reserved bytes before the subspaces.
constexpr uint8_t kPcctRevision = 2;
constexpr uint8_t kHestRevision = 1;
constexpr uint16_t kHestIa32MachineCheck = 0;
// The error source is enabled and reserves one error record of one section.
constexpr uint8_t kHestEnabled = 1;
constexpr uint32_t kHestRecordsToPreallocate = 1;
constexpr uint32_t kHestSectionsPerRecord = 1;

template <typename Protocol>
Protocol *Locate(Platform &Machine, EFI_GUID &Guid) {
  VOID *Interface = nullptr;
  if (EFI_ERROR(Machine.Core().BootServices()->LocateProtocol(&Guid, nullptr, &Interface))) return nullptr;
  return static_cast<Protocol *>(Interface);
}

}  // namespace

PcctTable BuildPcct(Platform &Machine, const PcctRequest &Request) {
  PcctTable Table;
  auto *Service = Locate<QORVEX_CCX_PCCT_SERVICES_PROTOCOL>(Machine, gQorvexCcxPcctServicesProtocolGuid);
  if (Service == nullptr || Service->AddGenCommSubspaceStruct == nullptr) return Table;
  Table.ServiceFound = true;

  AcpiTableBytes Bytes("PCCT", kPcctRevision, "QVPCCT");
  Bytes.Put32(0);  // flags: the platform raises no interrupt on completion
  Bytes.Put64(0);  // reserved
  CCX_PCC_SUBSPACE_INPUT Input{};
  Input.DoorbellAddress = Request.DoorbellAddress;
  Input.NominalLatency = Request.NominalLatency;
  Input.MaximumPeriodicAccessRate = Request.MaximumPeriodicAccessRate;
  Input.MinimumRequestTurnaroundTime = Request.MinimumRequestTurnaroundTime;

  // The builder hands the service its write pointer into room for one subspace.
  const size_t SubspaceOffset = Bytes.Size();
  Bytes.PutZeros(sizeof(CCX_PCCT_GENERIC_SUBSPACE));
  UINT8 *Cursor = Bytes.At(SubspaceOffset);
  UINT8 *const Start = Cursor;
  const PcctMachineState Before = CapturePcctState(Machine);
  Table.Status = Service->AddGenCommSubspaceStruct(Service, nullptr, &Input, &Cursor);
  if (EFI_ERROR(Table.Status) || Cursor != Start + sizeof(CCX_PCCT_GENERIC_SUBSPACE)) {
    CheckPcctSubspace(Machine, Before, Input, Table.Status, nullptr, Table.Errors);
    return Table;
  }
  CCX_PCCT_GENERIC_SUBSPACE Subspace;
  std::memcpy(&Subspace, Start, sizeof(Subspace));
  CheckPcctSubspace(Machine, Before, Input, Table.Status, &Subspace, Table.Errors);
  Table.Subspace = Subspace;
  Table.Bytes = Bytes.Finish();
  return Table;
}

HestTable BuildHest(Platform &Machine) {
  HestTable Table;
  auto *Service = Locate<QORVEX_CCX_MCA_SERVICES_PROTOCOL>(Machine, gQorvexCcxMcaServicesProtocolGuid);
  if (Service == nullptr || Service->GetMcaBankInfo == nullptr) return Table;
  Table.ServiceFound = true;
  const CCX_MCA_BANK_INFO *Info = nullptr;
  Table.Status = Service->GetMcaBankInfo(Service, &Info);
  CheckMcaBankInfo(Table.Status, Info, Table.Errors);
  if (EFI_ERROR(Table.Status) || Info == nullptr || Info->Banks == nullptr) return Table;
  Table.Banks = Info->NumberOfBanks;
  // A description that claims more banks than the processors have is not read past its array.
  const uint8_t Banks = std::min(Info->NumberOfBanks, kMcaBanks);

  AcpiTableBytes Bytes("HEST", kHestRevision, "QVHEST");
  Bytes.Put32(1);  // one error source
  Bytes.Put16(kHestIa32MachineCheck);
  Bytes.Put16(0);  // source ID
  Bytes.Put16(0);  // reserved
  Bytes.Put8(0);   // flags: firmware first off, not global
  Bytes.Put8(kHestEnabled);
  Bytes.Put32(kHestRecordsToPreallocate);
  Bytes.Put32(kHestSectionsPerRecord);
  Bytes.Put64(Info->GlobalCapabilityInitData);
  Bytes.Put64(Info->GlobalControlInitData);
  Bytes.Put8(Banks);
  Bytes.PutZeros(7);
  for (uint8_t Number = 0; Number < Banks; Number++) {
    const CCX_MCA_BANK_ENTRY &Bank = Info->Banks[Number];
    Bytes.Put8(Number);
    Bytes.Put8(Info->ClearStatusOnInitialization);
    Bytes.Put8(Info->StatusDataFormat);
    Bytes.Put8(0);
    Bytes.Put32(Bank.ControlMsr);
    Bytes.Put64(Bank.ControlInitData);
    Bytes.Put32(Bank.StatusMsr);
    Bytes.Put32(Bank.AddressMsr);
    Bytes.Put32(Bank.MiscMsr);
  }
  Table.Bytes = Bytes.Finish();
  return Table;
}

}  // namespace sim
