// Boots the delivered driver end to end on a machine the input chooses (see WholeBootInput) and
// calls every installed service through the platform's table builders. After each boot: every
// answer agrees with what the machine computes on its own (the builders compare them field by
// field: ACPI processor data, SRAT, resource affinity with caches and TLBs, PCCT, HEST, SMBIOS,
// configuration tokens), every processor holds the BSP's secure-nested-paging and SMM-range
// registers when MP services were there to copy them, and every table the builders produced
// parses back (length and checksum, SMBIOS structures).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/FuzzPlatform.h"
#include "fuzz/Outcome.h"
#include "fuzz/WholeBootInput.h"
#include "sim/consumers/AcpiProcessorObjects.h"
#include "sim/consumers/AffinityTableBuilder.h"
#include "sim/consumers/PlatformTables.h"
#include "sim/consumers/SratBuilder.h"
#include "sim/oracle/MachineStateOracle.h"

namespace {

// An ACPI table: the length in its header is its size, and its bytes sum to zero.
bool AcpiTableParses(const std::vector<uint8_t> &Table) {
  if (Table.empty()) return true;
  if (Table.size() < 36) return false;
  uint32_t Length = 0;
  std::memcpy(&Length, Table.data() + 4, sizeof(Length));
  uint8_t Sum = 0;
  for (uint8_t Byte : Table) Sum = static_cast<uint8_t>(Sum + Byte);
  return Length == Table.size() && Sum == 0;
}

// The SMBIOS structure table from offset 32 of the dump: formatted areas of at least four bytes,
// each followed by its strings and a double NUL, ending with the end-of-table structure.
bool SmbiosParses(const std::vector<uint8_t> &Dump) {
  if (Dump.empty()) return true;
  size_t At = 32;
  while (At + 4 <= Dump.size()) {
    const uint8_t Type = Dump[At];
    const uint8_t Length = Dump[At + 1];
    if (Length < 4 || At + Length > Dump.size()) return false;
    size_t Strings = At + Length;
    while (Strings + 1 < Dump.size() && (Dump[Strings] != 0 || Dump[Strings + 1] != 0)) Strings++;
    if (Strings + 1 >= Dump.size()) return false;
    At = Strings + 2;
    if (Type == 127) return At == Dump.size();
  }
  return false;
}

void Check(bool Holds, const std::string &What) {
  if (!Holds) fuzz::Fail(What.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  FuzzedDataProvider Input(Data, Size);
  const sim::Machine Machine = fuzz::MachineFromInput(Input);

  std::vector<std::string> Errors;
  std::vector<std::vector<uint8_t>> AcpiTables;
  std::vector<uint8_t> Smbios;
  sim::BootOptions Options;
  Options.AfterBoot = [&](sim::Platform &Platform) {
    auto Keep = [&Errors](const std::vector<std::string> &More) { Errors.insert(Errors.end(), More.begin(), More.end()); };
    Keep(sim::BuildAcpiProcessorObjects(Platform).Errors);
    const sim::SratReport Srat = sim::BuildSrat(Platform);
    Keep(Srat.Errors);
    AcpiTables.push_back(Srat.Table);
    const sim::AffinityTableReport Affinity = sim::BuildAffinityTable(Platform);
    Keep(Affinity.Errors);
    AcpiTables.push_back(Affinity.Table);
    const sim::PcctTable Pcct = sim::BuildPcct(Platform);
    Keep(Pcct.Errors);
    AcpiTables.push_back(Pcct.Bytes);
    const sim::HestTable Hest = sim::BuildHest(Platform);
    Keep(Hest.Errors);
    AcpiTables.push_back(Hest.Bytes);
    const sim::SmbiosTables Tables = sim::BuildSmbios(Platform);
    Keep(Tables.Errors);
    Smbios = Tables.Dump;
  };
  Options.CheckState = sim::CheckMachineState;
  sim::BootRecord Boot;
  try {
    Boot = sim::RunBoot(Machine, CcxImageDescriptor, Options);
  } catch (const std::exception &) {
    // A machine the platform can't build (two threads with one APIC ID, say) never boots.
    return 0;
  }
  fuzz::ObserveBoot(Boot);
  for (const std::string &Error : Errors) fuzz::ObserveText(Error);
  for (const std::vector<uint8_t> &Table : AcpiTables) fuzz::ObserveBytes(Table.data(), Table.size());
  fuzz::ObserveBytes(Smbios.data(), Smbios.size());
  // CCX_FUZZ_VERBOSE=1 tells what an input booted, for reading a crash or a corpus.
  if (std::getenv("CCX_FUZZ_VERBOSE") != nullptr) {
    size_t TableBytes = Smbios.size();
    for (const std::vector<uint8_t> &Table : AcpiTables) TableBytes += Table.size();
    std::fprintf(stderr, "whole boot: %zu processors, end %d, entry status 0x%llX, %zu fatal stops, %zu table bytes\n",
                 Boot.ProcessorCount, static_cast<int>(Boot.End.How),
                 static_cast<unsigned long long>(Boot.EntryStatus.value_or(~0ULL)), Boot.FatalStops.size(), TableBytes);
  }
  Check(Boot.End.How != sim::BootEnd::SimulatorError, "the simulator failed: " + Boot.End.Detail);
  Check(Boot.End.How != sim::BootEnd::FatalHalt, "a fatal stop halted although they return on this machine");
  if (Boot.End.How != sim::BootEnd::Returned) return 0;
  for (const std::string &Error : Errors) Check(false, "table builder: " + Error);
  for (const std::string &Error : Boot.StateErrors) Check(false, Error);
  for (const std::string &Error : Boot.S3Tokens.TokenErrors) Check(false, "configuration tokens: " + Error);
  for (const std::vector<uint8_t> &Table : AcpiTables) Check(AcpiTableParses(Table), "an ACPI table does not parse");
  Check(SmbiosParses(Smbios), "the SMBIOS structures do not parse");
  const auto Mp = Machine.Siblings.find("mp_services");
  const bool MpThere = Mp == Machine.Siblings.end() || Mp->second.When != sim::SiblingArrival::Absent;
  if (MpThere && Boot.EntryStatus == EFI_SUCCESS) {
    Check(Boot.Snp.Agreeing.size() == Boot.ProcessorCount, "an AP's SNP registers differ from the BSP's");
    Check(Boot.SmmRangeMsrs.size() <= 1, "the SMM range registers differ between processors");
  }
  return 0;
}
