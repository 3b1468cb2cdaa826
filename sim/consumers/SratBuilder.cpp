#include "sim/consumers/SratBuilder.h"

#include <cstring>

#include "interfaces/CcxSratServices.h"
#include "interfaces/QorvexGuids.h"
#include "sim/consumers/AcpiTableBytes.h"
#include "sim/oracle/AnswerCheck.h"
#include "sim/oracle/SratOracle.h"

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
constexpr uint8_t kLocalApicLength = sizeof(EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY);
constexpr uint8_t kX2ApicLength = sizeof(EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY);

// Reads the processor entries back within the area the cursor covered; anything else there is
// an error, as is an entry that runs past the area.
void ReadProcessorEntries(const std::vector<uint8_t> &Table, size_t End, SratReport &Report) {
  AnswerCheck Check("AddProcessorAffinityEntries", Report.Errors);
  size_t Offset = 0;
  while (Offset < End) {
    const uint8_t Type = Table[Offset];
    const uint8_t Length = Offset + 1 < End ? Table[Offset + 1] : 0;
    if (Length == 0 || Offset + Length > End) {
      Check.Problem("entry at offset " + std::to_string(Offset), "it runs past the entries");
      return;
    }
    SratProcessorEntry Entry;
    Entry.Type = Type;
    Entry.Length = Length;
    if (Type == EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY_TYPE && Length == kLocalApicLength) {
      EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY Local;
      std::memcpy(&Local, Table.data() + Offset, sizeof(Local));
      Entry.ApicId = Local.ApicId;
      Entry.Domain = Local.ProximityDomain7To0 | uint32_t(Local.ProximityDomain31To8[0]) << 8 |
                     uint32_t(Local.ProximityDomain31To8[1]) << 16 | uint32_t(Local.ProximityDomain31To8[2]) << 24;
      Entry.Flags = Local.Flags;
      Entry.ClockDomain = Local.ClockDomain;
      Entry.Reserved = Local.LocalSapicEid;
    } else if (Type == EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY_TYPE && Length == kX2ApicLength) {
      EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY X2;
      std::memcpy(&X2, Table.data() + Offset, sizeof(X2));
      Entry.ApicId = X2.X2ApicId;
      Entry.Domain = X2.ProximityDomain;
      Entry.Flags = X2.Flags;
      Entry.ClockDomain = X2.ClockDomain;
      for (UINT8 Byte : X2.Reserved1) Entry.Reserved = Entry.Reserved << 8 | Byte;
      for (UINT8 Byte : X2.Reserved2) Entry.Reserved = Entry.Reserved << 8 | Byte;
    } else {
      Check.Problem("entry at offset " + std::to_string(Offset),
                    "type " + std::to_string(Type) + " and length " + std::to_string(Length) +
                        " make no processor affinity structure");
      return;
    }
    Report.Processors.push_back(Entry);
    Offset += Length;
  }
}

// Every entry, field by field, against the ones the machine calls for.
void CheckAgainstMachine(Platform &Machine, const ExpectedSrat &Answer, SratReport &Report) {
  AnswerCheck Check("AddProcessorAffinityEntries", Report.Errors);
  Check.Field("call", "status", Answer.Status, Report.Status.value_or(0));
  const std::vector<ExpectedSratEntry> &Expected = Answer.Entries;
  if (Report.Processors.size() != Expected.size()) {
    Check.Problem("entries", "it wrote " + std::to_string(Report.Processors.size()) + ", the machine calls for " +
                                 std::to_string(Expected.size()));
  }
  for (size_t Index = 0; Index < Report.Processors.size() && Index < Expected.size(); Index++) {
    const SratProcessorEntry &Got = Report.Processors[Index];
    const ExpectedSratEntry &Want = Expected[Index];
    // The sentences' record names are made only for an entry that differs.
    if (Got.Type == Want.Type && Got.Length == Want.Length && Got.ApicId == Want.ApicId &&
        Got.Domain == Want.Domain && Got.Flags == Want.Flags && Got.ClockDomain == 0 && Got.Reserved == 0) {
      continue;
    }
    const std::string Record = "entry " + std::to_string(Index) + " (" +
                               Machine.Processors().At(Want.Processor).Position().Describe() + ")";
    if (!Check.Field(Record, "Type", Want.Type, Got.Type)) continue;
    Check.Field(Record, "Length", Want.Length, Got.Length);
    Check.Field(Record, "ApicId", Want.ApicId, Got.ApicId);
    Check.Field(Record, "ProximityDomain", Want.Domain, Got.Domain);
    Check.Field(Record, "Flags", Want.Flags, Got.Flags);
    Check.Field(Record, "ClockDomain", 0, Got.ClockDomain);
    Check.Field(Record, Want.Type == EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY_TYPE ? "LocalSapicEid" : "Reserved", 0,
                Got.Reserved);
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
  // Before the call: the NUMA service's injected faults are counted from the calls made so far.
  const ExpectedSrat Expected = ExpectedSratProcessorEntries(Machine);
  Report.Status = Service->AddProcessorAffinityEntries(Service, Table.At(0), &Cursor);
  const size_t Used = static_cast<size_t>(Cursor - Area.data());
  if (Used > Area.size()) {
    AnswerCheck("AddProcessorAffinityEntries", Report.Errors)
        .Problem("cursor", "it moved " + std::to_string(Used) + " bytes, past the area for " +
                               std::to_string(Threads) + " threads");
    return Report;
  }
  ReadProcessorEntries(Area, Used, Report);
  CheckAgainstMachine(Machine, Expected, Report);
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
