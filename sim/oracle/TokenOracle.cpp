#include "sim/oracle/TokenOracle.h"

#include <cstring>
#include <map>
#include <set>

#include "sim/HexText.h"
#include "sim/machine/FaultQueries.h"
#include "sim/oracle/AnswerCheck.h"

namespace sim {
namespace {

// The options hook 0x02 copies, in its order, each into an 8-bit token.
struct OptionRow {
  uint16_t OptionId;
  uint32_t Uid;
};
constexpr OptionRow kOptionRows[] = {
    {0xD018, 0x0AE23766},
    {0xD01A, 0xCCD6584C},
    {0xD017, 0x3BED107B},
    {0xD019, 0xA0A9E098},
};

// The configuration items it copies next, in its order, and how each is read.
enum class Read { Get8, GetBool, Get16 };
struct ItemRow {
  uint64_t Token;
  Read How;
  uint32_t Uid;
};
constexpr ItemRow kItemRows[] = {
    {369, Read::Get8, 0x8043E855},    {368, Read::Get8, 0x48E285FF},    {379, Read::Get8, 0xAB65D40A},
    {383, Read::GetBool, 0x24CC76B0}, {422, Read::GetBool, 0xE8519572}, {424, Read::GetBool, 0x5782CE7B},
    {425, Read::GetBool, 0x7E9F07EE}, {423, Read::GetBool, 0xD1DC9E4A}, {426, Read::GetBool, 0x56E61482},
    {427, Read::GetBool, 0x5C9BB154}, {374, Read::GetBool, 0x827B9158}, {375, Read::Get16, 0x5A9DD6C9},
    {454, Read::Get8, 0x8EC38C6B},    {862, Read::GetBool, 0xBAAA911F}, {371, Read::Get8, 0x74701E51},
    {366, Read::Get8, 0xE21E3E0A},    {445, Read::Get8, 0xB0FB9774},    {463, Read::Get8, 0xBDE0F8F0},
    {361, Read::GetBool, 0x60A5C019}, {518, Read::GetBool, 0x5B2B2F79}, {459, Read::Get8, 0x4C8E4576},
    {457, Read::GetBool, 0xC5164DD4}, {382, Read::GetBool, 0xA81B7C1D}, {381, Read::GetBool, 0x6492BA42},
    {464, Read::GetBool, 0x4F99941E},
};

constexpr uint32_t kOptionTableHandle = 0x5444564E;  // "NVDT"
constexpr uint32_t kHeapSignature = 0x50414548;       // "HEAP"
constexpr uint32_t kOptionTableSignature = 0x564E4B24;  // "$KNV"
constexpr size_t kOptionHeaderBytes = 32;
constexpr size_t kOptionBufferSlack = 104;  // the driver's buffer is the table's size plus this
constexpr size_t kGuardOffset = 100;        // ... with the guard word this far behind the table
constexpr uint32_t kGuard = 0x55AA;
constexpr uint16_t kOptionEnd = 0xFFFF;
constexpr size_t kTokenEntryBytes = 8;

uint32_t WordIn(const std::vector<uint8_t> &Bytes, size_t Offset) {
  uint32_t Value = 0;
  std::memcpy(&Value, &Bytes[Offset], 4);
  return Value;
}

// The first live heap HOB record with Handle, as the heap restores it.
const HeapHobRecord *FirstLiveHob(const Machine &Description, uint32_t Handle) {
  for (const HeapHobRecord &Record : Description.HeapHobs) {
    if (Record.Handle == Handle && Record.Valid == 1 && Record.Signature == kHeapSignature) return &Record;
  }
  return nullptr;
}

// One lookup of an option: found with a value, not found, or not fixed by the machine.
struct OptionLookup {
  bool Known = true;
  std::optional<uint64_t> Value;
};
const OptionLookup kUnknownOption{false, std::nullopt};

// The option table lookups of one boot, played from the option service's settings: the table is
// fetched into a heap buffer on the first lookup that gets a size from the service, and that
// buffer answers every later lookup, whatever the fetch left in it.
class OptionLookups {
 public:
  explicit OptionLookups(const Machine &Description)
      : Description_(Description),
        Settings_(Description.Options),
        // Located on every lookup, and the hook runs inside the driver's entry.
        ServiceThere_(Description.SiblingAtStart("option_hook")) {
    Table_ = ServedTable(Settings_.Values);
    if (const HeapHobRecord *Handed = FirstLiveHob(Description, kOptionTableHandle)) {
      Buffer_ = Handed->Data;
      BufferKnown_ = !Handed->Size || *Handed->Size == Handed->Data.size();
    }
  }

  OptionLookup Find(uint16_t OptionId) {
    if (!Buffer_ && !Fetch()) return LastFetch_;
    if (!BufferKnown_) return kUnknownOption;
    return Walk(*Buffer_, OptionId);
  }

 private:
  // The table the service serves: the header with its signature, the entries, the end mark.
  static std::vector<uint8_t> ServedTable(const std::vector<OptionValue> &Values) {
    std::vector<uint8_t> Table(kOptionHeaderBytes, 0);
    std::memcpy(Table.data(), &kOptionTableSignature, 4);
    auto Put = [&Table](uint64_t Value, unsigned Size) {
      for (unsigned Index = 0; Index < Size; Index++) Table.push_back(uint8_t(Value >> (8 * Index)));
    };
    for (const OptionValue &Option : Values) {
      Put(Option.Id, 2);
      Table.push_back(uint8_t(Option.Size >= 8 ? 3 : Option.Size >= 4 ? 2 : Option.Size >= 2 ? 1 : 0));
      Put(Option.Value, Option.Size);
    }
    Put(kOptionEnd, 2);
    Put(0, 2);
    return Table;
  }

  // Whether the service fails this call of Query, through the fault injector or for good; the
  // status it answers then.
  std::optional<uint64_t> Failure(SiblingQuery Query, uint64_t &Calls, const char *FailName) const {
    Calls++;
    const SiblingQueryName &Counted = NameOf(Query);
    for (const InjectedFault &Fault : Description_.Faults) {
      if (Fault.Service == Counted.Service && Fault.Query == Counted.Query && Fault.Call == Calls) return Fault.Status;
    }
    for (const std::string &Name : Settings_.Fail) {
      if (Name == FailName) return 0x8000000000000007ull;  // a device error
    }
    return std::nullopt;
  }

  // A lookup without a buffer fetches the table into a new one. False when the lookup ends there
  // (LastFetch_ says how); true when the buffer is to be walked.
  bool Fetch() {
    LastFetch_ = OptionLookup{};  // not found
    if (!ServiceThere_) return false;
    // A failed size request leaves the size at 0, which ends the lookup.
    if (Failure(SiblingQuery::OptionTableSize, SizeCalls_, "size")) return false;
    const size_t Size = Table_.size();
    Buffer_ = std::vector<uint8_t>(Size + kOptionBufferSlack, 0);
    std::vector<uint8_t> &Buffer = *Buffer_;
    std::memcpy(&Buffer[Size + kGuardOffset], &kGuard, 4);
    size_t Reported = Size;
    if (std::optional<uint64_t> Status = Failure(SiblingQuery::OptionCopyTable, CopyCalls_, "copy")) {
      // Nothing is copied; an error ends the lookup, a success walks the empty buffer.
      if (*Status >> 63) return false;
    } else {
      std::memcpy(Buffer.data(), Table_.data(), Size);
      // Bytes written past the buffer land in memory the machine does not describe.
      if (Settings_.Overrun > kOptionBufferSlack) BufferKnown_ = false;
      for (size_t Index = Size; Index < Size + Settings_.Overrun && Index < Buffer.size(); Index++) Buffer[Index] = 0xEE;
      Reported = Settings_.SizeAfterCopy.value_or(uint32_t(Size));
    }
    // The guard is checked where it was written: a smaller size reported after the copy moves
    // nothing the service wrote, a larger one claims bytes past the room it was given.
    if (Reported > Size || WordIn(Buffer, Size + kGuardOffset) != kGuard) return false;  // not found
    return true;
  }

  // The walk over the entries from byte 32 to the end mark; a walk that leaves the buffer reads memory
  // the machine does not describe.
  static OptionLookup Walk(const std::vector<uint8_t> &Buffer, uint16_t OptionId) {
    size_t At = kOptionHeaderBytes;
    while (true) {
      if (At + 2 > Buffer.size()) return kUnknownOption;
      const uint16_t Id = uint16_t(Buffer[At] | Buffer[At + 1] << 8);
      if (Id == kOptionEnd) return {};
      if (At + 3 > Buffer.size()) return kUnknownOption;
      const size_t Size = size_t(1) << (Buffer[At + 2] & 3);
      if (At + 3 + Size > Buffer.size()) return kUnknownOption;
      uint64_t Value = 0;
      for (size_t Index = 0; Index < Size; Index++) Value |= uint64_t(Buffer[At + 3 + Index]) << (8 * Index);
      if (Id == OptionId) return {true, Value};
      At += 3 + Size;
    }
  }

  const Machine &Description_;
  const OptionServiceSettings &Settings_;
  const bool ServiceThere_;
  std::vector<uint8_t> Table_;
  std::optional<std::vector<uint8_t>> Buffer_;
  bool BufferKnown_ = true;
  OptionLookup LastFetch_;
  uint64_t SizeCalls_ = 0;
  uint64_t CopyCalls_ = 0;
};

uint16_t ItemValue(const Machine &Description, const ItemRow &Row) {
  auto It = Description.Pcd.find(Row.Token);
  const uint64_t Value = It == Description.Pcd.end() ? 0 : It->second;  // unset items read 0
  switch (Row.How) {
    case Read::Get8: return uint8_t(Value);
    case Read::GetBool: return Value != 0 ? 1 : 0;
    case Read::Get16: return uint16_t(Value);
  }
  return 0;
}

TokenTableView &TableOf(TokenStoreView &Store, bool Wide) { return Wide ? Store.Table16 : Store.Table8; }

std::string TokenName(bool Wide, uint32_t Uid) { return std::string(Wide ? "16-bit" : "8-bit") + " token " + Hex(Uid, 8); }

// Compares one table token by token; Skip holds the tokens whose value the machine does not fix.
void CompareTable(AnswerCheck &Check, bool Wide, const TokenTableView &Expected, const TokenTableView &Received,
                  const std::set<uint32_t> &Skip) {
  const std::string Table = std::string(Wide ? "16-bit" : "8-bit") + " token table";
  // A table the owner handed over unreadable leaves what the driver does with it open.
  if (!Expected.Problem.empty()) return;
  Check.Field(Table, "offset", Expected.Offset, Received.Offset);
  if (Expected.Offset == 0 || Received.Offset != Expected.Offset) return;
  Check.Field(Table, "capacity", Expected.Capacity, Received.Capacity);
  if (!Received.Problem.empty()) {
    Check.Problem(Table, "unreadable after the boot: " + Received.Problem);
    return;
  }
  std::map<uint32_t, size_t> ExpectedCount, ReceivedCount;
  std::map<uint32_t, uint16_t> ReceivedValue;
  for (const auto &[Uid, Value] : Expected.Tokens) ExpectedCount[Uid]++;
  for (const auto &[Uid, Value] : Received.Tokens) {
    if (ReceivedCount[Uid]++ == 0) ReceivedValue[Uid] = Value;
  }
  std::set<uint32_t> Seen;
  for (const auto &[Uid, Value] : Expected.Tokens) {
    if (Skip.count(Uid) != 0 || !Seen.insert(Uid).second) continue;
    auto It = ReceivedValue.find(Uid);
    if (It == ReceivedValue.end()) {
      Check.Problem(TokenName(Wide, Uid), "missing from the store after the boot (expected value " +
                                              ShownValue(Value) + ")");
      continue;
    }
    Check.Field(TokenName(Wide, Uid), "value", Value, It->second);
    if (ReceivedCount[Uid] != ExpectedCount[Uid]) {
      Check.Field(TokenName(Wide, Uid), "entries", ExpectedCount[Uid], ReceivedCount[Uid]);
    }
  }
  for (const auto &[Uid, Value] : Received.Tokens) {
    if (Skip.count(Uid) != 0 || ExpectedCount.count(Uid) != 0 || !Seen.insert(Uid).second) continue;
    Check.Problem(TokenName(Wide, Uid), "in the store after the boot with value " + ShownValue(Value) +
                                            ", but neither handed over nor set by the hook");
  }
}

size_t CompareStores(const TokenStoreView &Expected, const TokenStoreView &Received, const std::set<uint32_t> &Skip,
                     std::vector<std::string> &Errors) {
  AnswerCheck Check("option hook 0x02", Errors);
  if (Expected.Present != Received.Present) {
    Check.Problem("token store", Expected.Present ? "handed over as heap buffer \"ACDB\" but gone after the boot"
                                                  : "not handed over, yet a heap buffer \"ACDB\" is there after the boot");
    return Check.Differences();
  }
  if (!Expected.Present) return 0;
  CompareTable(Check, false, Expected.Table8, Received.Table8, Skip);
  CompareTable(Check, true, Expected.Table16, Received.Table16, Skip);
  return Check.Differences();
}

}  // namespace

StoreAtStart TokenStoreAtStart(const Machine &Description) {
  StoreAtStart Start;
  // The owner's buffer joins the heap HOBs behind the machine's own, so a record of the machine
  // with the same handle is the one the driver finds.
  const HeapHobRecord *Handed = FirstLiveHob(Description, kTokenStoreHandle);
  std::optional<HeapHobRecord> Owners;
  if (Handed == nullptr) {
    Owners = TokenStoreHob(Description.TokenStore);
    if (Owners) Handed = &*Owners;
  }
  if (Handed == nullptr) return Start;
  if (Handed->Size && *Handed->Size != Handed->Data.size()) {
    Start.Known = false;
    return Start;
  }
  Start.Store = DecodeTokenStore(Handed->Data);
  return Start;
}

bool HookRunsAtEntry(const Machine &Description) {
  return Description.SiblingAtStart("fabric_numa") && Description.SiblingAtStart("fabric_system") &&
         Description.SiblingAtStart("fabric_topology");
}

std::vector<TokenWrite> ExpectedTokenWrites(const Machine &Description) {
  std::vector<TokenWrite> Writes;
  if (!HookRunsAtEntry(Description)) return Writes;
  OptionLookups Options(Description);
  for (const OptionRow &Row : kOptionRows) {
    const OptionLookup Found = Options.Find(Row.OptionId);
    if (!Found.Known) {
      Writes.push_back({Row.Uid, false, std::nullopt});
    } else if (Found.Value) {
      Writes.push_back({Row.Uid, false, uint8_t(*Found.Value)});
    }
  }
  // Without the configuration protocol at start the item reads go nowhere the machine describes.
  const bool ItemsReadable = Description.SiblingAtStart("pcd");
  for (const ItemRow &Row : kItemRows) {
    TokenWrite Write{Row.Uid, Row.How == Read::Get16, std::nullopt};
    if (ItemsReadable) Write.Value = ItemValue(Description, Row);
    Writes.push_back(Write);
  }
  return Writes;
}

TokenStoreView ApplyTokenWrites(const TokenStoreView &Before, const std::vector<TokenWrite> &Writes, size_t Count) {
  TokenStoreView Store = Before;
  if (!Store.Present) return Store;
  for (size_t Index = 0; Index < Count && Index < Writes.size(); Index++) {
    const TokenWrite &Write = Writes[Index];
    TokenTableView &Table = TableOf(Store, Write.Wide);
    if (!Table.Initialized) continue;
    bool Updated = false;
    for (auto &[Uid, Value] : Table.Tokens) {
      if (Uid != Write.Uid) continue;
      if (Write.Value) Value = *Write.Value;
      Updated = true;
      break;
    }
    if (Updated) continue;
    if ((uint64_t(Table.Tokens.size()) + 1) * kTokenEntryBytes > Table.Capacity) continue;  // no space
    // A token whose value is open is still counted where it would go; its value is not compared.
    Table.Tokens.emplace_back(Write.Uid, Write.Value.value_or(0));
    Table.Count++;
  }
  return Store;
}

size_t CheckTokenStore(const Machine &Description, const TokenStoreView &After, bool EndedEarly,
                       std::vector<std::string> &Errors) {
  const StoreAtStart Start = TokenStoreAtStart(Description);
  if (!Start.Known) return 0;
  const std::vector<TokenWrite> Writes = ExpectedTokenWrites(Description);
  std::set<uint32_t> Skip;
  for (const TokenWrite &Write : Writes) {
    if (!Write.Value) Skip.insert(Write.Uid);
  }
  if (EndedEarly) {
    // The boot may have ended before, inside or after the hook: any stage of its writes will do.
    std::vector<std::string> Scratch;
    for (size_t Count = 0; Count <= Writes.size(); Count++) {
      Scratch.clear();
      if (CompareStores(ApplyTokenWrites(Start.Store, Writes, Count), After, Skip, Scratch) == 0) return 0;
    }
  }
  size_t Differences = CompareStores(ApplyTokenWrites(Start.Store, Writes, Writes.size()), After, Skip, Errors);
  if (EndedEarly && Differences != 0) {
    AnswerCheck Check("option hook 0x02", Errors);
    Check.Problem("token store", "matches no stage of the hook's writes, though the boot ended inside the driver");
    Differences++;
  }
  return Differences;
}

std::string TokenSource(uint32_t Uid) {
  for (const OptionRow &Row : kOptionRows) {
    if (Row.Uid == Uid) return "option " + Hex(Row.OptionId, 4);
  }
  for (const ItemRow &Row : kItemRows) {
    if (Row.Uid == Uid) return PcdItemName(Row.Token);
  }
  return "";
}

}  // namespace sim
