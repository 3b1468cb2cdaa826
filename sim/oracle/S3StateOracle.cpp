// The S3 save table as the SMM side received it at ready-to-boot: one hand-off of the library's
// record and table, whose header, entries (the other drivers' of the machine) and end mark are the
// machine's own, and the record locked and closed afterwards.
#include <algorithm>
#include <optional>

#include "interfaces/PlatformConfig.h"
#include "sim/oracle/AcpiProcessorPstates.h"
#include "sim/oracle/AnswerCheck.h"
#include "sim/oracle/MachineStateOracle.h"

namespace sim {
namespace {

constexpr uint32_t kTableSignature = 0x54335351;  // "QS3T"
constexpr uint32_t kTableVersion = 1;
constexpr uint64_t kSmallestTable = 0x4000;
constexpr uint64_t kFirstEntry = 48;
constexpr uint64_t kEntryHeaderBytes = 4;
constexpr uint64_t kSurelyHeld = 16ULL << 20;

// The table's size: the item as the library start-up could read it, at least 0x4000.
uint64_t TableSize(const Machine &Description) {
  const uint64_t Asked = Description.SiblingAtStart("pcd") ? PcdItem(Description.Pcd, PcdQorvexS3LibTableSize, 8) : 0;
  return std::max(Asked, kSmallestTable);
}

// Whether the hand-off must take place: the initialization kept the library's events (it did
// not give up), the library's table could be made, and at ready-to-boot the configuration
// database (holding the communication buffer the platform sets) and the SMM communication
// protocol are there. Nothing when that depends on whether the pool could hold a table larger
// than every machine's free memory is sure to hold.
std::optional<bool> HandoffExpected(const Machine &Description, const BootRecord &Boot) {
  const size_t ReadyToBoot = StepOf(Boot, "ready_to_boot");
  if (!InitializationRuns(Description) || !Description.S3.CommBuffer ||
      !SiblingThereAt(Description, Boot, "pcd", ReadyToBoot + 1) ||
      !SiblingThereAt(Description, Boot, "smm_communication", ReadyToBoot + 1)) {
    return false;
  }
  uint64_t Dram = 0;
  for (const DramRange &Range : Description.Dram) Dram += Range.length;
  const uint64_t Size = TableSize(Description);
  if (Size >= Dram) return false;
  if (Size > kSurelyHeld) return std::nullopt;
  return true;
}

}  // namespace

void CheckS3Handoff(Platform &Machine, const BootRecord &Boot, std::vector<std::string> &Errors) {
  AnswerCheck Check("machine state", Errors);
  const sim::Machine &Description = Machine.Description();
  const std::optional<bool> Expected = HandoffExpected(Description, Boot);
  if (!Expected) return;
  Check.Field("S3 save table", "hand-offs to SMM", *Expected ? 1 : 0, Boot.S3Tokens.S3Handoffs.size());
  if (!*Expected || Boot.S3Tokens.S3Handoffs.size() != 1) return;
  const S3HandoffView &View = Boot.S3Tokens.S3Handoffs.front();
  if (!View.RecordRead || !View.TableRead) {
    Check.Problem("S3 save table", "the SMM side could not read the record or the table");
    return;
  }
  Check.Field("S3 record as handed off", "Locked", 1, View.Locked);
  Check.Field("S3 record as handed off", "Closed", 0, View.Closed);
  Check.Field("S3 save table", "signature", kTableSignature, View.Signature);
  Check.Field("S3 save table", "version", kTableVersion, View.Version);
  Check.Field("S3 save table", "size", TableSize(Description), View.TableSize);
  uint64_t Offset = kFirstEntry;
  const std::vector<S3EntrySetting> &Entries = Description.S3.Entries;
  // A driver that leaves the next-entry offset elsewhere moves the end mark there; the entries
  // it covers are then not the list's.
  if (!Description.S3.NextOffset) {
    Check.Field("S3 save table", "entries", Entries.size(), View.Entries.size());
    for (size_t Index = 0; Index < Entries.size() && Index < View.Entries.size(); Index++) {
      const std::string Record = "S3 save table entry " + std::to_string(Index);
      Check.Field(Record, "offset", Offset, View.Entries[Index].Offset);
      Check.Field(Record, "kind", Entries[Index].Kind, View.Entries[Index].Kind);
      Check.Field(Record, "length", kEntryHeaderBytes + Entries[Index].Data.size(), View.Entries[Index].Length);
      Offset += kEntryHeaderBytes + Entries[Index].Data.size();
    }
  }
  const uint64_t End = Description.S3.NextOffset.value_or(Offset);
  Check.Field("S3 save table", "next offset", End, View.NextOffset);
  if (!View.EndMarkFound) {
    Check.Problem("S3 save table", "no end mark");
  } else {
    Check.Field("S3 save table", "end mark offset", End, View.EndMarkOffset);
  }
  // The record is found through its item, which a library started without the database never set.
  if (Boot.S3Tokens.S3RecordRead) {
    Check.Field("S3 record after the boot", "Locked", 1, Boot.S3Tokens.S3Locked);
    Check.Field("S3 record after the boot", "Closed", 1, Boot.S3Tokens.S3Closed);
  }
}

}  // namespace sim
