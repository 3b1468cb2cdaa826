#include "sim/consumers/SratBuilder.h"

#include <cstring>
#include <map>

#include "interfaces/CcxSratServices.h"
#include "interfaces/PlatformConfig.h"
#include "interfaces/QorvexGuids.h"
#include "sim/consumers/AcpiTableBytes.h"

namespace sim {
namespace {

// The SRAT body starts after the header with its own revision word and eight reserved bytes.
constexpr size_t kSratReservedBytes = 8;
constexpr uint32_t kSratTableRevision = 1;
constexpr uint8_t kMemoryAffinityType = 1;
constexpr uint8_t kMemoryAffinityLength = 40;
constexpr uint32_t kMemoryEnabled = 1;
// The largest processor entry, for sizing the area handed to the service.
constexpr size_t kLargestProcessorEntry = sizeof(EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY);

// Reads the processor entries back within the area the cursor covered; anything else there is
// an error, as is an entry that runs past the area.
void ReadProcessorEntries(const std::vector<uint8_t> &Table, size_t End, SratReport &Report) {
  size_t Offset = 0;
  while (Offset < End) {
    const uint8_t Type = Table[Offset];
    const uint8_t Length = Offset + 1 < End ? Table[Offset + 1] : 0;
    if (Length == 0 || Offset + Length > End) {
      Report.Errors.push_back("a processor entry at offset " + std::to_string(Offset) + " runs past the entries");
      return;
    }
    SratProcessorEntry Entry;
    Entry.Type = Type;
    if (Type == EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY_TYPE && Length == 16) {
      EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY Local;
      std::memcpy(&Local, Table.data() + Offset, sizeof(Local));
      Entry.ApicId = Local.ApicId;
      Entry.Domain = Local.ProximityDomain7To0 | uint32_t(Local.ProximityDomain31To8[0]) << 8 |
                     uint32_t(Local.ProximityDomain31To8[1]) << 16 | uint32_t(Local.ProximityDomain31To8[2]) << 24;
    } else if (Type == EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY_TYPE && Length == 24) {
      EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY X2;
      std::memcpy(&X2, Table.data() + Offset, sizeof(X2));
      Entry.ApicId = X2.X2ApicId;
      Entry.Domain = X2.ProximityDomain;
    } else {
      Report.Errors.push_back("an entry of type " + std::to_string(Type) + " and length " + std::to_string(Length) +
                              " is no processor affinity structure");
      return;
    }
    Report.Processors.push_back(Entry);
    Offset += Length;
  }
}

// Every processor the form can describe must appear exactly once.
void CheckAgainstMachine(Platform &Machine, bool X2Apic, SratReport &Report) {
  std::map<uint32_t, int> Seen;
  for (const SratProcessorEntry &Entry : Report.Processors) {
    if (Entry.Type != (X2Apic ? EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY_TYPE
                              : EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY_TYPE)) {
      Report.Errors.push_back("APIC ID " + std::to_string(Entry.ApicId) + " has the structure of the other APIC mode");
    }
    Seen[Entry.ApicId]++;
  }
  for (size_t Index = 0; Index < Machine.Processors().Count(); Index++) {
    const uint32_t ApicId = Machine.Processors().At(Index).ApicId();
    const int Expected = X2Apic || ApicId < 255 ? 1 : 0;
    const int Count = Seen.count(ApicId) != 0 ? Seen[ApicId] : 0;
    if (Count != Expected) {
      Report.Errors.push_back("APIC ID " + std::to_string(ApicId) + " appears " + std::to_string(Count) +
                              " times, expected " + std::to_string(Expected));
    }
    Seen.erase(ApicId);
  }
  for (const auto &[ApicId, Count] : Seen) {
    Report.Errors.push_back("APIC ID " + std::to_string(ApicId) + " belongs to no processor");
  }
}

}  // namespace

SratReport BuildSrat(Platform &Machine) {
  SratReport Report;
  VOID *Interface = nullptr;
  EFI_BOOT_SERVICES *BootServices = Machine.Core().BootServices();
  if (EFI_ERROR(BootServices->LocateProtocol(&gQorvexCcxSratServicesProtocolGuid, nullptr, &Interface)) ||
      Interface == nullptr) {
    return Report;
  }
  Report.ServiceFound = true;
  auto *Service = static_cast<QORVEX_CCX_SRAT_SERVICES_PROTOCOL *>(Interface);

  // The service writes into a zero-filled area with room for one entry of the larger form per
  // thread; the table takes what the cursor covered.
  const size_t Threads = Machine.Processors().Count();
  std::vector<uint8_t> Area(Threads * kLargestProcessorEntry, 0);
  UINT8 *Cursor = Area.data();
  AcpiTableBytes Table("SRAT", 3, "CCXSRAT");
  Table.Put32(kSratTableRevision);
  Table.PutZeros(kSratReservedBytes);
  Report.Status = Service->AddProcessorAffinityEntries(Service, Table.At(0), &Cursor);
  const size_t Used = static_cast<size_t>(Cursor - Area.data());
  if (Used > Area.size()) {
    Report.Errors.push_back("the service moved the cursor " + std::to_string(Used) + " bytes, past the area for " +
                            std::to_string(Threads) + " threads");
    return Report;
  }
  ReadProcessorEntries(Area, Used, Report);
  const bool X2Apic = Machine.Pcd().Get(PcdCcxApicMode) == 2;
  CheckAgainstMachine(Machine, X2Apic, Report);
  Table.PutBytes(Area.data(), Used);

  // The machine does not say which domain its memory belongs to; it is given to the domain of the
  // first processor, which is where the boot processor's memory lies.
  const uint32_t MemoryDomain = Report.Processors.empty() ? 0 : Report.Processors.front().Domain;
  for (const DramRange &Range : Machine.Description().Dram) {
    Table.Put8(kMemoryAffinityType);
    Table.Put8(kMemoryAffinityLength);
    Table.Put32(MemoryDomain);
    Table.PutZeros(2);
    Table.Put64(Range.base);
    Table.Put64(Range.length);
    Table.PutZeros(4);
    Table.Put32(kMemoryEnabled);
    Table.PutZeros(8);
    Report.MemoryEntries++;
  }
  Report.Table = Table.Finish();
  return Report;
}

}  // namespace sim
