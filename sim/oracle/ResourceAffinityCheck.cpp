#include "sim/oracle/ResourceAffinityCheck.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include "sim/HexText.h"

namespace sim {
namespace {

// One field of an entry: its name in the sentences, where it lies and how wide it is.
struct EntryField {
  const char *Name;
  size_t Offset;
  size_t Width;
};

#define AFFINITY_FIELD(Type, Member) \
  EntryField { #Member, offsetof(Type, Member), sizeof(std::declval <Type &>().Member) }

const std::vector<EntryField> &ComputeUnitFields() {
  using Entry = CCX_AFFINITY_COMPUTE_UNIT_ENTRY;
  static const std::vector<EntryField> Fields = {{"Type", offsetof(Entry, Entry.Type), 1},
                                                 {"Length", offsetof(Entry, Entry.Length), 1},
                                                 AFFINITY_FIELD(Entry, Flags),
                                                 AFFINITY_FIELD(Entry, ProximityDomain),
                                                 AFFINITY_FIELD(Entry, ApicId),
                                                 AFFINITY_FIELD(Entry, ThreadCount),
                                                 AFFINITY_FIELD(Entry, Byte28)};
  return Fields;
}

const std::vector<EntryField> &CacheFields() {
  using Entry = CCX_AFFINITY_CACHE_ENTRY;
  static const std::vector<EntryField> Fields = {{"Type", offsetof(Entry, Entry.Type), 1},
                                                 {"Length", offsetof(Entry, Entry.Length), 1},
                                                 AFFINITY_FIELD(Entry, Flags),
                                                 AFFINITY_FIELD(Entry, ApicId),
                                                 AFFINITY_FIELD(Entry, CacheSizeInKb),
                                                 AFFINITY_FIELD(Entry, CacheLevel),
                                                 AFFINITY_FIELD(Entry, Byte49),
                                                 AFFINITY_FIELD(Entry, LineSize),
                                                 AFFINITY_FIELD(Entry, Associativity),
                                                 AFFINITY_FIELD(Entry, InclusiveFlag),
                                                 AFFINITY_FIELD(Entry, Word54)};
  return Fields;
}

const std::vector<EntryField> &TlbFields() {
  using Entry = CCX_AFFINITY_TLB_ENTRY;
  static const std::vector<EntryField> Fields = {{"Type", offsetof(Entry, Entry.Type), 1},
                                                 {"Length", offsetof(Entry, Entry.Length), 1},
                                                 AFFINITY_FIELD(Entry, Flags),
                                                 AFFINITY_FIELD(Entry, ApicId),
                                                 AFFINITY_FIELD(Entry, TlbLevel),
                                                 AFFINITY_FIELD(Entry, DataTlb2M.Associativity),
                                                 AFFINITY_FIELD(Entry, DataTlb2M.Entries),
                                                 AFFINITY_FIELD(Entry, InstructionTlb2M.Associativity),
                                                 AFFINITY_FIELD(Entry, InstructionTlb2M.Entries),
                                                 AFFINITY_FIELD(Entry, DataTlb4K.Associativity),
                                                 AFFINITY_FIELD(Entry, DataTlb4K.Entries),
                                                 AFFINITY_FIELD(Entry, InstructionTlb4K.Associativity),
                                                 AFFINITY_FIELD(Entry, InstructionTlb4K.Entries),
                                                 AFFINITY_FIELD(Entry, DataTlb1G.Associativity),
                                                 AFFINITY_FIELD(Entry, DataTlb1G.Entries),
                                                 AFFINITY_FIELD(Entry, InstructionTlb1G.Associativity),
                                                 AFFINITY_FIELD(Entry, InstructionTlb1G.Entries)};
  return Fields;
}

#undef AFFINITY_FIELD

uint64_t ValueAt(const uint8_t *Bytes, const EntryField &Field) {
  uint64_t Value = 0;
  std::memcpy(&Value, Bytes + Field.Offset, Field.Width);
  return Value;
}

// What kind of cache or TLB an entry describes, from its flags: "level-2 unified cache".
std::string KindOf(UINT32 Flags, uint32_t Level, const char *Noun) {
  const bool Data = (Flags & CCX_AFFINITY_FLAG_DATA) != 0;
  const bool Instruction = (Flags & CCX_AFFINITY_FLAG_INSTRUCTION) != 0;
  const char *Which = Data && Instruction ? "unified" : Data ? "data" : Instruction ? "instruction" : "untyped";
  return "level-" + std::to_string(Level) + " " + Which + " " + Noun;
}

// Compares every named field, then the sibling map when the entry has one (at MapOffset), then
// every byte no field covers. Record names the entry; it is built only for a difference.
template <typename Entry, typename NameOf>
void CompareEntry(const Entry &Expected, const ExpectedSiblingMap *Map, size_t MapOffset, const Entry &Received,
                  const std::vector<EntryField> &Fields, NameOf &&Record, AnswerCheck &Check) {
  const auto *Want = reinterpret_cast<const uint8_t *>(&Expected);
  const auto *Got = reinterpret_cast<const uint8_t *>(&Received);
  std::array<bool, sizeof(Entry)> Covered{};
  for (const EntryField &Field : Fields) {
    const uint64_t ExpectedValue = ValueAt(Want, Field);
    const uint64_t ReceivedValue = ValueAt(Got, Field);
    if (ExpectedValue != ReceivedValue) Check.Field(Record(), Field.Name, ExpectedValue, ReceivedValue);
    for (size_t Byte = 0; Byte < Field.Width; Byte++) Covered[Field.Offset + Byte] = true;
  }
  if (Map != nullptr) {
    for (size_t Byte = 0; Byte < Map->Bytes.size(); Byte++) {
      const uint8_t Value = Got[MapOffset + Byte];
      Covered[MapOffset + Byte] = true;
      if (Value == Map->Bytes[Byte] || Value == Map->Alternative[Byte]) continue;
      std::string Expect = Hex(Map->Bytes[Byte], 2);
      if (Map->Alternative[Byte] != Map->Bytes[Byte]) Expect += " or " + Hex(Map->Alternative[Byte], 2);
      Check.Text(Record(), "SiblingMap byte " + std::to_string(Byte), Expect, Hex(Value, 2));
    }
  }
  for (size_t Byte = 0; Byte < sizeof(Entry); Byte++) {
    if (!Covered[Byte] && Got[Byte] != Want[Byte]) {
      Check.Field(Record(), "reserved byte " + std::to_string(Byte), Want[Byte], Got[Byte]);
    }
  }
}

// Whether the entry counts agree (a difference is told), and whether comparing may go on.
bool CountsAgree(size_t Expected, size_t Received, const char *What, AnswerCheck &Check) {
  if (Expected == Received) return true;
  Check.Problem("entries",
                "expected " + std::to_string(Expected) + " " + What + ", received " + std::to_string(Received));
  return false;
}

bool TooManyDifferences(size_t Compared, size_t Total, AnswerCheck &Check) {
  if (Check.Differences() < kMostAffinityDifferences) return false;
  if (Compared < Total) {
    Check.Problem("entries", std::to_string(Total - Compared) + " further entries not compared after " +
                                 std::to_string(Check.Differences()) + " differences");
  }
  return true;
}

// Compares the entries pairwise, as far as both lists reach.
template <typename Entry, typename Expectation, typename Compare>
void CompareAll(const std::vector<Expectation> &Expected, const std::vector<Entry> &Received, const char *What,
                AnswerCheck &Check, Compare &&CompareOne) {
  CountsAgree(Expected.size(), Received.size(), What, Check);
  const size_t Both = std::min(Expected.size(), Received.size());
  for (size_t Index = 0; Index < Both; Index++) {
    if (TooManyDifferences(Index, Both, Check)) return;
    CompareOne(Index, Expected[Index], Received[Index]);
  }
}

}  // namespace

void CheckComputeUnitEntries(const std::vector<CCX_AFFINITY_COMPUTE_UNIT_ENTRY> &Expected,
                             const std::vector<CCX_AFFINITY_COMPUTE_UNIT_ENTRY> &Received, AnswerCheck &Check) {
  CompareAll(
      Expected, Received, "compute-unit entries", Check,
      [&](size_t Index, const CCX_AFFINITY_COMPUTE_UNIT_ENTRY &Want, const CCX_AFFINITY_COMPUTE_UNIT_ENTRY &Got) {
        auto Record = [&] {
          return "compute-unit entry " + std::to_string(Index) + " (APIC ID " + ShownValue(Want.ApicId) + ")";
        };
        CompareEntry(Want, nullptr, 0, Got, ComputeUnitFields(), Record, Check);
      });
}

void CheckCacheEntries(const std::vector<ExpectedSharedEntry<CCX_AFFINITY_CACHE_ENTRY>> &Expected,
                       const std::vector<CCX_AFFINITY_CACHE_ENTRY> &Received, AnswerCheck &Check) {
  CompareAll(Expected, Received, "cache entries", Check,
             [&](size_t Index, const ExpectedSharedEntry<CCX_AFFINITY_CACHE_ENTRY> &Want,
                 const CCX_AFFINITY_CACHE_ENTRY &Got) {
               auto Record = [&] {
                 return "cache entry " + std::to_string(Index) + " (walk position " + std::to_string(Want.Position) +
                        ", " + KindOf(Want.Fields.Flags, Want.Fields.CacheLevel, "cache") + ")";
               };
               CompareEntry(Want.Fields, &Want.Map, offsetof(CCX_AFFINITY_CACHE_ENTRY, SiblingMap), Got, CacheFields(),
                            Record, Check);
             });
}

void CheckTlbEntries(const std::vector<ExpectedSharedEntry<CCX_AFFINITY_TLB_ENTRY>> &Expected,
                     const std::vector<CCX_AFFINITY_TLB_ENTRY> &Received, AnswerCheck &Check) {
  CompareAll(
      Expected, Received, "TLB entries", Check,
      [&](size_t Index, const ExpectedSharedEntry<CCX_AFFINITY_TLB_ENTRY> &Want, const CCX_AFFINITY_TLB_ENTRY &Got) {
        auto Record = [&] {
          return "TLB entry " + std::to_string(Index) + " (walk position " + std::to_string(Want.Position) + ", " +
                 KindOf(Want.Fields.Flags, Want.Fields.TlbLevel, "TLB") + ")";
        };
        CompareEntry(Want.Fields, &Want.Map, offsetof(CCX_AFFINITY_TLB_ENTRY, SiblingMap), Got, TlbFields(), Record,
                     Check);
      });
}

}  // namespace sim
