// Reads a machine description (JSON) into a Machine, strictly: every field is checked for its
// type and range, unknown keys are refused, and every error names the file and the field path.
#include "arch/CoreComplexRegisters.h"
#include "arch/Cpuid.h"
#include "interfaces/PlatformConfig.h"
#include "sim/HexText.h"
#include "sim/machine/AddressMap.h"
#include "sim/machine/FaultSettings.h"
#include "sim/machine/JsonFields.h"
#include "sim/machine/Machine.h"
#include "sim/machine/MachineMerge.h"
#include "sim/machine/PcdItems.h"

namespace sim {
namespace {

constexpr uint64_t kMaxPhysicalAddress = (1ULL << 52) - 1;

// The APIC ID has no field for the die (the driver numbers a thread without it), so the threads of
// two dies of one socket would be numbered alike.
constexpr const char *kOneDiePerSocket =
    "a socket of this processor has one die: the APIC ID has no die field, so the threads of a second die "
    "would take the APIC IDs of the first";

void ReadTopology(const JsonCursor &Node, Machine &Result) {
  Node.OnlyKeys({"sockets", "dies_per_socket", "complex_dies_per_die", "complexes_per_complex_die",
                 "cores_per_complex", "threads_per_core", "core_field_padding", "overrides", "folded_complexes"});
  UniformTopology Counts;
  Counts.Sockets = uint32_t(Node.Field("sockets").Unsigned(1, 4));
  Counts.DiesPerSocket = uint32_t(Node.Field("dies_per_socket").Unsigned(1, 4));
  if (Counts.DiesPerSocket != 1) Node.Field("dies_per_socket").Fail(kOneDiePerSocket);
  Counts.ComplexDiesPerDie = uint32_t(Node.Field("complex_dies_per_die").Unsigned(1, 12));
  Counts.ComplexesPerComplexDie = uint32_t(Node.Field("complexes_per_complex_die").Unsigned(1, 2));
  Counts.CoresPerComplex = uint32_t(Node.Field("cores_per_complex").Unsigned(1, 8));
  Counts.ThreadsPerCore = uint32_t(Node.Field("threads_per_core").Unsigned(1, 2));
  Result.Shape = Topology(Counts);
  if (Node.Has("core_field_padding")) Result.Processors.CoreFieldPadding = Node.Field("core_field_padding").Boolean();
  if (Node.Has("folded_complexes")) Result.Processors.FoldedComplexes = Node.Field("folded_complexes").Boolean();
  if (!Node.Has("overrides")) return;

  // Each override names the instance that holds a level and the count of that level in it:
  // {"socket": 0, "die": 0, "complex_die": 2, "complex": 0, "cores": 7}.
  static const struct {
    const char *CountKey;
    TopologyLevel Level;
    uint64_t Max;
  } kLevels[] = {{"dies", TopologyLevel::Die, 4},
                 {"complex_dies", TopologyLevel::ComplexDie, 12},
                 {"complexes", TopologyLevel::Complex, 2},
                 {"cores", TopologyLevel::Core, 8},
                 {"threads", TopologyLevel::Thread, 2}};
  static const char *kIndexKeys[] = {"socket", "die", "complex_die", "complex", "core"};
  const JsonCursor Overrides = Node.Field("overrides");
  Overrides.ExpectArray();
  for (size_t Index = 0; Index < Overrides.Value().size(); Index++) {
    const JsonCursor Entry = Overrides.Element(Index);
    Entry.OnlyKeys({"socket", "die", "complex_die", "complex", "core", "dies", "complex_dies", "complexes", "cores",
                    "threads"});
    int Found = -1;
    for (int Level = 0; Level < 5; Level++) {
      if (Entry.Has(kLevels[Level].CountKey)) {
        if (Found >= 0) Entry.Fail("an override sets exactly one count; this one sets several");
        Found = Level;
      }
    }
    if (Found < 0) Entry.Fail("an override needs one count: dies, complex_dies, complexes, cores or threads");
    // The instance is named by every index above the counted level.
    TopologyPosition Holder;
    const unsigned CountedLevel = static_cast<unsigned>(kLevels[Found].Level);
    for (unsigned Level = 0; Level < 5; Level++) {
      if (Level < CountedLevel) {
        Holder.Set(static_cast<TopologyLevel>(Level),
                   uint32_t(Entry.Field(kIndexKeys[Level]).Unsigned(0, kTopologyLimits[Level] - 1)));
      } else if (Entry.Has(kIndexKeys[Level])) {
        Entry.Field(kIndexKeys[Level]).Fail(std::string("not used with \"") + kLevels[Found].CountKey + "\"");
      }
    }
    const JsonCursor Count = Entry.Field(kLevels[Found].CountKey);
    const uint32_t Value = uint32_t(Count.Unsigned(1, kLevels[Found].Max));
    if (kLevels[Found].Level == TopologyLevel::Die && Value != 1) Count.Fail(kOneDiePerSocket);
    Result.Shape.SetCount(kLevels[Found].Level, Holder, Value);
  }
}

// "0x8000001D" or "0x8000001D.3" (leaf and sub-leaf) → registers.
void ReadCpuid(const JsonCursor &Node, CpuidTable &Table) {
  Node.ExpectObject();
  NumberedKeys Leaves;
  for (const auto &[Key, Unused] : Node.Value().items()) {
    const JsonCursor Entry = Node.Field(Key);
    const size_t Dot = Key.find('.');
    uint64_t Leaf = 0, SubLeaf = 0;
    if (!ParseUnsigned(Key.substr(0, Dot), Leaf) || Leaf > 0xFFFFFFFF ||
        (Dot != std::string::npos && (!ParseUnsigned(Key.substr(Dot + 1), SubLeaf) || SubLeaf > 0xFFFFFFFF))) {
      Entry.Fail("a CPUID key is a leaf number or leaf.subleaf, such as \"0x8000001D.3\"");
    }
    if (Dot != std::string::npos && !TakesSubLeaf(uint32_t(Leaf))) {
      Entry.Fail("this leaf answers the same whatever ECX holds: give it without a sub-leaf");
    }
    Leaves.Claim(Entry, Key,
                 "leaf " + Hex(Leaf) + (Dot == std::string::npos ? std::string() : " sub-leaf " + Hex(SubLeaf)));
    Entry.OnlyKeys({"eax", "ebx", "ecx", "edx"});
    CpuidValue Value;
    if (Entry.Has("eax")) Value.Eax = uint32_t(Entry.Field("eax").Unsigned(0, 0xFFFFFFFF));
    if (Entry.Has("ebx")) Value.Ebx = uint32_t(Entry.Field("ebx").Unsigned(0, 0xFFFFFFFF));
    if (Entry.Has("ecx")) Value.Ecx = uint32_t(Entry.Field("ecx").Unsigned(0, 0xFFFFFFFF));
    if (Entry.Has("edx")) Value.Edx = uint32_t(Entry.Field("edx").Unsigned(0, 0xFFFFFFFF));
    // The cache-properties leaf lists one cache per sub-leaf and ends with a sub-leaf of cache
    // type 0; one answer for every sub-leaf would be a list without an end.
    if (Dot == std::string::npos && Leaf == CpuidLeaf::CacheProperties::Leaf &&
        CpuidLeaf::CacheProperties::EaxCacheType::Get(Value.Eax) != CpuidLeaf::CacheProperties::TypeNone) {
      Entry.Fail("the cache-properties leaf answers by sub-leaf: give each cache as \"0x8000001D.N\" (a sub-leaf "
                 "without an entry answers 0, which ends the list)");
    }
    if (Dot == std::string::npos) {
      Table.Set(uint32_t(Leaf), Value);
    } else {
      Table.Set(uint32_t(Leaf), uint32_t(SubLeaf), Value);
    }
  }
}

std::map<uint32_t, uint64_t> ReadMsrs(const JsonCursor &Node) {
  Node.ExpectObject();
  std::map<uint32_t, uint64_t> Msrs;
  NumberedKeys Numbers;
  for (const auto &[Key, Unused] : Node.Value().items()) {
    const JsonCursor Entry = Node.Field(Key);
    uint64_t Number = 0;
    if (!ParseUnsigned(Key, Number) || Number > 0xFFFFFFFF) Entry.Fail("an MSR key is a 32-bit number such as \"0xC0010058\"");
    Numbers.Claim(Entry, Key, "MSR " + Hex(Number));
    Msrs[uint32_t(Number)] = Entry.Unsigned();
  }
  return Msrs;
}

// Two entries for one socket or processor would have the later silently win where both give a value.
void RefuseListedTwice(const JsonCursor &Field, std::map<uint64_t, size_t> &Listed, uint64_t Number, size_t Index,
                       const char *What) {
  const auto [Earlier, Fresh] = Listed.emplace(Number, Index);
  if (!Fresh) {
    Field.Fail(std::string(What) + " " + std::to_string(Number) + " is listed already (entry " +
               std::to_string(Earlier->second) + "); give its values in one entry");
  }
}

void ReadProcessorOverrides(const JsonCursor &Root, Machine &Result) {
  const std::vector<TopologyPosition> Walk = Result.Shape.Walk();
  if (Root.Has("socket_msrs")) {
    const JsonCursor List = Root.Field("socket_msrs");
    List.ExpectArray();
    std::map<uint64_t, size_t> Listed;
    for (size_t Index = 0; Index < List.Value().size(); Index++) {
      const JsonCursor Entry = List.Element(Index);
      Entry.OnlyKeys({"socket", "msrs"});
      const uint64_t Socket = Entry.Field("socket").Unsigned(0, Result.Shape.Count(TopologyLevel::Socket) - 1);
      RefuseListedTwice(Entry.Field("socket"), Listed, Socket, Index, "socket");
      const auto Msrs = ReadMsrs(Entry.Field("msrs"));
      for (size_t Processor = 0; Processor < Walk.size(); Processor++) {
        if (Walk[Processor].Socket != Socket) continue;
        for (const auto &[Msr, Value] : Msrs) Result.Processors.MsrResetOverrides[Processor][Msr] = Value;
      }
    }
  }
  if (Root.Has("processors")) {
    const JsonCursor List = Root.Field("processors");
    List.ExpectArray();
    std::map<uint64_t, size_t> Listed;
    for (size_t Index = 0; Index < List.Value().size(); Index++) {
      const JsonCursor Entry = List.Element(Index);
      Entry.OnlyKeys({"index", "msrs", "cpuid"});
      const uint64_t Processor = Entry.Field("index").Unsigned(0, Walk.size() - 1);
      RefuseListedTwice(Entry.Field("index"), Listed, Processor, Index, "processor");
      if (Entry.Has("msrs")) {
        for (const auto &[Msr, Value] : ReadMsrs(Entry.Field("msrs"))) {
          Result.Processors.MsrResetOverrides[Processor][Msr] = Value;
        }
      }
      if (Entry.Has("cpuid")) ReadCpuid(Entry.Field("cpuid"), Result.Processors.CpuidOverrides[Processor]);
    }
  }
}

void ReadMemory(const JsonCursor &Node, Machine &Result) {
  Node.OnlyKeys({"dram"});
  const JsonCursor Ranges = Node.Field("dram");
  Ranges.ExpectArray();
  if (Ranges.Value().empty()) Ranges.Fail("a machine needs at least one DRAM range");
  for (size_t Index = 0; Index < Ranges.Value().size(); Index++) {
    const JsonCursor Entry = Ranges.Element(Index);
    Entry.OnlyKeys({"base", "size"});
    DramRange Range;
    Range.base = Entry.Field("base").Unsigned(0, kMaxPhysicalAddress);
    Range.length = Entry.Field("size").Unsigned(0x1000, kMaxPhysicalAddress);
    if ((Range.base | Range.length) & 0xFFF) Entry.Fail("DRAM ranges are 4 KB aligned in base and size");
    if (Range.base + Range.length - 1 > kMaxPhysicalAddress) Entry.Fail("the range ends above the physical address space");
    // Overlaps, with one another and with the rest of the address map, are CheckAddressMap's.
    Result.Dram.push_back(Range);
  }
}

void ReadSmram(const JsonCursor &Node, Machine &Result) {
  Node.ExpectArray();
  // They are handed over in one GUID extension HOB, whose length is 16 bits: a 24-byte header, the
  // 8-byte count and 32 bytes a region.
  constexpr size_t kMaxSmramRegions = (0xFFF8 - 24 - 8) / 32;
  if (Node.Value().size() > kMaxSmramRegions) {
    Node.Fail(std::to_string(Node.Value().size()) + " SMRAM regions, but the SMRAM HOB holds at most " +
              std::to_string(kMaxSmramRegions));
  }
  for (size_t Index = 0; Index < Node.Value().size(); Index++) {
    const JsonCursor Entry = Node.Element(Index);
    Entry.OnlyKeys({"base", "size", "state"});
    SmramRegion Region;
    Region.Base = Entry.Field("base").Unsigned(0, kMaxPhysicalAddress);
    Region.Size = Entry.Field("size").Unsigned(0, kMaxPhysicalAddress);
    Region.State = Entry.Has("state") ? Entry.Field("state").Unsigned() : 0;
    Result.Smram.push_back(Region);
  }
}

void ReadPcd(const JsonCursor &Node, Machine &Result) {
  Node.ExpectObject();
  for (const auto &[Key, Unused] : Node.Value().items()) {
    const JsonCursor Entry = Node.Field(Key);
    const PcdItemDefinition *Item = FindPcdItem(Key);
    if (Item == nullptr) Entry.Fail("not a configuration item of this platform");
    // true and false stand for 1 and 0; a value the driver cannot use is refused with the ones it can.
    const nlohmann::json &Given = Entry.Value();
    uint64_t Value = 0;
    bool Readable = true;
    if (Given.is_boolean()) {
      Value = Given.get<bool>() ? 1 : 0;
    } else if (Given.is_number_unsigned()) {
      Value = Given.get<uint64_t>();
    } else {
      Readable = Given.is_string() && ParseUnsigned(Given.get<std::string>(), Value);
    }
    if (!Readable || !PcdValueAccepted(*Item, Value)) {
      Entry.Fail(std::string(Item->Boolean ? "expected " : "expected an unsigned number from ") + PcdValidValues(*Item) +
                 ", got " + Given.dump());
    }
    Result.Pcd[Item->Token] = Value;
  }
}

void ReadSiblings(const JsonCursor &Node, Machine &Result) {
  Node.ExpectObject();
  for (const auto &[Key, Unused] : Node.Value().items()) {
    const JsonCursor Entry = Node.Field(Key);
    bool Known = false;
    for (const std::string &Name : KnownSiblings()) Known = Known || Name == Key;
    if (!Known) {
      std::string List;
      for (const std::string &Name : KnownSiblings()) List += " " + Name;
      Entry.Fail("not a sibling component of this platform (known:" + List + ")");
    }
    SiblingArrival Arrival;
    if (Entry.Value().is_string() && Entry.String() == "start") {
      Arrival.When = SiblingArrival::Start;
    } else if (Entry.Value().is_string() && Entry.String() == "absent") {
      Arrival.When = SiblingArrival::Absent;
    } else if (Entry.Value().is_object()) {
      Entry.OnlyKeys({"after"});
      Arrival.When = SiblingArrival::After;
      Arrival.AfterWhat = Entry.Field("after").String();
    } else {
      Entry.Fail("expected \"start\", \"absent\" or {\"after\": <sibling or boot phase>}, got " + Entry.Value().dump());
    }
    Result.Siblings[Key] = Arrival;
  }
  // An arrival follows a sibling that arrives, or a boot phase; and the chain ends.
  for (const auto &[Name, Arrival] : Result.Siblings) {
    if (Arrival.When != SiblingArrival::After) continue;
    const JsonCursor Entry = Node.Field(Name).Field("after");
    bool Phase = false;
    for (const std::string &Candidate : BootPhases()) Phase = Phase || Candidate == Arrival.AfterWhat;
    if (Phase) continue;
    auto Other = Result.Siblings.find(Arrival.AfterWhat);
    if (Other == Result.Siblings.end()) {
      bool Known = false;
      for (const std::string &Candidate : KnownSiblings()) Known = Known || Candidate == Arrival.AfterWhat;
      if (!Known) Entry.Fail("\"" + Arrival.AfterWhat + "\" is neither a sibling component nor a boot phase");
      continue;  // an unnamed sibling is there at start
    }
    if (Other->second.When == SiblingArrival::Absent) Entry.Fail("\"" + Arrival.AfterWhat + "\" never arrives");
    std::string Cursor = Arrival.AfterWhat;
    for (size_t Steps = 0; Steps <= Result.Siblings.size(); Steps++) {
      auto Next = Result.Siblings.find(Cursor);
      if (Next == Result.Siblings.end() || Next->second.When != SiblingArrival::After) break;
      if (Next->second.AfterWhat == Name) Entry.Fail("the arrivals wait for each other in a circle");
      Cursor = Next->second.AfterWhat;
    }
  }
}

// [{"socket": 0, "die": 0, "complex_die": 1, "complex": 0, "domain": 3}]: the proximity domain
// of one complex. Indices default to 0; a complex the topology does not have is an error.
void ReadNumaDomains(const JsonCursor &Node, Machine &Result) {
  Node.ExpectArray();
  for (size_t Index = 0; Index < Node.Value().size(); Index++) {
    const JsonCursor Entry = Node.Element(Index);
    Entry.OnlyKeys({"socket", "die", "complex_die", "complex", "domain"});
    ComplexDomain Domain;
    TopologyPosition Complex;
    static const struct {
      const char *Key;
      TopologyLevel Level;
    } kIndices[] = {{"socket", TopologyLevel::Socket},
                    {"die", TopologyLevel::Die},
                    {"complex_die", TopologyLevel::ComplexDie},
                    {"complex", TopologyLevel::Complex}};
    for (const auto &Item : kIndices) {
      if (!Entry.Has(Item.Key)) continue;
      const uint64_t Limit = Result.Shape.Count(Item.Level, Complex);
      Complex.Set(Item.Level, uint32_t(Entry.Field(Item.Key).Unsigned(0, Limit == 0 ? 0 : Limit - 1)));
    }
    Domain.Socket = Complex.Socket;
    Domain.Die = Complex.Die;
    Domain.ComplexDie = Complex.ComplexDie;
    Domain.Complex = Complex.Complex;
    Domain.Domain = uint32_t(Entry.Field("domain").Unsigned(0, 0xFFFFFFFF));
    Result.NumaDomains.push_back(Domain);
  }
}

// {"autonomous_selection": 1, "overrides": [{"element": 19, "value": 400, "present": true}]}:
// the _CPC builder's own settings, which the driver's CPPC callbacks ask for.
void ReadCppc(const JsonCursor &Node, Machine &Result) {
  Node.OnlyKeys({"autonomous_selection", "overrides"});
  if (Node.Has("autonomous_selection")) {
    Result.Cppc.AutonomousSelection = uint8_t(Node.Field("autonomous_selection").Unsigned(0, 0xFF));
  }
  if (!Node.Has("overrides")) return;
  const JsonCursor List = Node.Field("overrides");
  List.ExpectArray();
  for (size_t Index = 0; Index < List.Value().size(); Index++) {
    const JsonCursor Entry = List.Element(Index);
    Entry.OnlyKeys({"element", "value", "present"});
    CppcOverride Override;
    Override.Element = uint32_t(Entry.Field("element").Unsigned(0, 0xFFFFFFFF));
    Override.Value = uint32_t(Entry.Field("value").Unsigned(0, 0xFFFFFFFF));
    if (Entry.Has("present")) Override.Present = Entry.Field("present").Boolean();
    Result.Cppc.Overrides.push_back(Override);
  }
}

// The option service: {"values": [{"id": "0xD018", "size": 1, "value": 1}], "fail": ["copy"],
// "overrun": 104, "size_after_copy": 40}. Values keep their order, which is the order of the table
// the service serves.
void ReadOptions(const JsonCursor &Node, Machine &Result) {
  Node.OnlyKeys({"values", "fail", "overrun", "size_after_copy"});
  OptionServiceSettings &Options = Result.Options;
  if (Node.Has("values")) {
    const JsonCursor List = Node.Field("values");
    List.ExpectArray();
    for (size_t Index = 0; Index < List.Value().size(); Index++) {
      const JsonCursor Entry = List.Element(Index);
      Entry.OnlyKeys({"id", "size", "value"});
      OptionValue Option;
      // 0xFFFF marks the end of the table and can't be an option.
      Option.Id = uint16_t(Entry.Field("id").Unsigned(0, 0xFFFE));
      Option.Size = unsigned(Entry.Field("size").Unsigned(1, 8));
      if (Option.Size != 1 && Option.Size != 2 && Option.Size != 4 && Option.Size != 8) {
        Entry.Field("size").Fail("an option value is 1, 2, 4 or 8 bytes, not " + std::to_string(Option.Size));
      }
      const uint64_t Max = Option.Size == 8 ? UINT64_MAX : (1ULL << (8 * Option.Size)) - 1;
      Option.Value = Entry.Field("value").Unsigned(0, Max);
      Options.Values.push_back(Option);
    }
  }
  if (Node.Has("fail")) {
    const JsonCursor List = Node.Field("fail");
    List.ExpectArray();
    for (size_t Index = 0; Index < List.Value().size(); Index++) {
      const JsonCursor Entry = List.Element(Index);
      const std::string Request = Entry.String();
      if (Request != "size" && Request != "copy" && Request != "hooks") {
        Entry.Fail("expected \"size\", \"copy\" or \"hooks\", got \"" + Request + "\"");
      }
      for (const std::string &Earlier : Options.Fail) {
        if (Earlier == Request) Entry.Fail("\"" + Request + "\" is listed twice");
      }
      Options.Fail.push_back(Request);
    }
  }
  // The driver leaves 104 bytes of room behind the table; a service that wrote further would
  // write outside the driver's buffer, which the simulation does not play.
  if (Node.Has("overrun")) Options.Overrun = uint32_t(Node.Field("overrun").Unsigned(0, 104));
  // The size field the driver hands over is 32 bits wide; any value of it may come back.
  if (Node.Has("size_after_copy")) {
    Options.SizeAfterCopy = uint32_t(Node.Field("size_after_copy").Unsigned(0, 0xFFFFFFFF));
  }
}

// Heap HOBs: [{"handle": "0xA036", "persistence": 4, "data": [1, 2]}], with "size", "valid" and
// "signature" to describe a malformed record.
void ReadHeapHobs(const JsonCursor &Node, Machine &Result) {
  Node.ExpectArray();
  for (size_t Index = 0; Index < Node.Value().size(); Index++) {
    const JsonCursor Entry = Node.Element(Index);
    Entry.OnlyKeys({"handle", "persistence", "data", "size", "valid", "signature"});
    HeapHobRecord Record;
    Record.Handle = uint32_t(Entry.Field("handle").Unsigned(0, 0xFFFFFFFF));
    Record.Persistence = uint8_t(Entry.Field("persistence").Unsigned(0, 0xFF));
    if (Entry.Has("data")) {
      const JsonCursor Data = Entry.Field("data");
      Data.ExpectArray();
      // A GUID extension HOB's length is 16 bits: the name and the record header take 40 bytes.
      if (Data.Value().size() > 0xFFF8 - 40) Data.Fail("more data than a HOB can carry");
      for (size_t Byte = 0; Byte < Data.Value().size(); Byte++) {
        Record.Data.push_back(uint8_t(Data.Element(Byte).Unsigned(0, 0xFF)));
      }
    }
    if (Entry.Has("size")) Record.Size = uint32_t(Entry.Field("size").Unsigned(0, 0xFFFFFFFF));
    if (Entry.Has("valid")) Record.Valid = uint8_t(Entry.Field("valid").Unsigned(0, 0xFF));
    if (Entry.Has("signature")) Record.Signature = uint32_t(Entry.Field("signature").Unsigned(0, 0xFFFFFFFF));
    Result.HeapHobs.push_back(Record);
  }
}

// The coprocessor: {"present": true, "mmio_base": "0xFEB00000", "sideband_block": "0x13B10000",
// "mailbox_offset": "0x10900", "contends": true, "hold_polls": 2}.
// The SOC service: {"max_core_fid": "0xB4", "smt": false}.
void ReadSoc(const JsonCursor &Node, Machine &Result) {
  Node.OnlyKeys({"max_core_fid", "smt", "oc_messages"});
  if (Node.Has("oc_messages")) ReadOcMessages(Node.Field("oc_messages"), Result.Soc.OcMessages);
  if (Node.Has("max_core_fid")) Result.Soc.MaxCoreFid = uint16_t(Node.Field("max_core_fid").Unsigned(0, 0xFFFF));
  if (Node.Has("smt")) Result.Soc.Smt = Node.Field("smt").Boolean();
}

// The SMU service: {"registers": {"0x3008101C": "0x100"}}.
void ReadSmu(const JsonCursor &Node, Machine &Result) {
  Node.OnlyKeys({"registers"});
  if (!Node.Has("registers")) return;
  const JsonCursor Registers = Node.Field("registers");
  Registers.ExpectObject();
  NumberedKeys Addresses;
  for (const auto &Item : Registers.Value().items()) {
    uint64_t Address = 0;
    if (!ParseUnsigned(Item.key(), Address) || Address > 0xFFFFFFFF) {
      Registers.Fail("\"" + Item.key() + "\" is not a 32-bit register address");
    }
    Addresses.Claim(Registers.Field(Item.key()), Item.key(), "register " + Hex(Address));
    Result.Smu.Registers[uint32_t(Address)] = uint32_t(Registers.Field(Item.key()).Unsigned(0, 0xFFFFFFFF));
  }
}

// The fabric MMIO allocator's pool: {"base": "0xE0000000", "size": "0x10000000"}, 1 MB aligned.
void ReadMmioPool(const JsonCursor &Node, Machine &Result) {
  Node.OnlyKeys({"base", "size"});
  if (Node.Has("base")) Result.MmioPool.Base = Node.Field("base").Unsigned(0, 0xFFFFFFFFFFF00000ULL);
  if (Node.Has("size")) Result.MmioPool.Size = Node.Field("size").Unsigned(0, 0x0000FFFFFFFFFFFFULL);
  if ((Result.MmioPool.Base | Result.MmioPool.Size) & 0xFFFFF) Node.Fail("the pool's base and size are 1 MB aligned");
}

void ReadCoprocessor(const JsonCursor &Node, Machine &Result) {
  Node.OnlyKeys({"present", "mmio_base", "sideband_block", "mailbox_offset", "contends", "hold_polls"});
  CoprocessorSettings &Settings = Result.Coprocessor;
  if (Node.Has("present")) Settings.Present = Node.Field("present").Boolean();
  if (Node.Has("mmio_base")) {
    const JsonCursor Base = Node.Field("mmio_base");
    Settings.MmioBase = Base.Unsigned(0x100000, 0xFFF00000);
    if (Settings.MmioBase % 0x100000 != 0) Base.Fail("the coprocessor's MMIO block is 1 MB aligned");
  }
  if (Node.Has("sideband_block")) Settings.SidebandBlock = uint32_t(Node.Field("sideband_block").Unsigned(0, 0xFFFFF000));
  // The mutex registers end 0x68 bytes into the mailbox, which lies inside the 1 MB block.
  if (Node.Has("mailbox_offset")) Settings.MailboxOffset = uint32_t(Node.Field("mailbox_offset").Unsigned(0, 0xFFF98));
  if (Node.Has("contends")) Settings.Contends = Node.Field("contends").Boolean();
  if (Node.Has("hold_polls")) Settings.HoldPolls = uint32_t(Node.Field("hold_polls").Unsigned(1, 1000));
  if (Node.Has("seed")) Settings.Seed = Node.Field("seed").Unsigned(0, UINT64_MAX);
}

// Only a part that builds its complex dies in pairs, in the package that can fold them, folds its
// complexes; and it folds two complexes of a complex die into two complex dies, of which a die has
// at most twelve.
void CheckFoldedComplexes(const JsonCursor &Root, const Machine &Result) {
  if (!Result.Processors.FoldedComplexes) return;
  const JsonCursor Flag = Root.Field("topology").Field("folded_complexes");
  if (Result.Shape.MaxCount(TopologyLevel::Complex) != 2) {
    Flag.Fail("folded complexes need complex dies with two complexes");
  }
  if (2 * Result.Shape.MaxCount(TopologyLevel::ComplexDie) > TopologyLimit(TopologyLevel::ComplexDie)) {
    Flag.Fail("folded complexes allow at most 6 complex dies per die, not " +
              std::to_string(Result.Shape.MaxCount(TopologyLevel::ComplexDie)));
  }
  const CpuidValue Signature =
      Result.Processors.Cpuid.Find(CpuidLeaf::ExtendedSignature, 0).value_or(CpuidValue{});
  if ((Signature.Eax & CpuidLeaf::ExtendedSignatureFields::EaxFamilyModelMask) != Sideband::PairedComplexDieSignature ||
      CpuidLeaf::ExtendedSignatureFields::EbxPkgType::Get(Signature.Ebx) != Sideband::FoldingPackageType) {
    Flag.Fail("folded complexes need a part that folds: cpuid 0x80000001 with EAX family 0x00AA0F00 and package "
              "type 8 in EBX bits 31:28");
  }
}

// The processors numbered as a boot numbers them, so that a topology the APIC ID cannot tell apart
// is refused here and not when a boot builds its processors.
void CheckProcessorNumbers(const JsonCursor &Root, const Machine &Result) {
  try {
    NumberProcessors(Result.Shape, Result.Processors);
  } catch (const std::exception &Error) {
    Root.Field("topology").Fail(Error.what());
  }
}

// A run of boots: [{"down_cored": true}, {"down_cored": false, "faults": [...], "expect": {...}}].
void ReadBoots(const JsonCursor &Node, Machine &Result) {
  Node.ExpectArray();
  for (size_t Index = 0; Index < Node.Value().size(); Index++) {
    const JsonCursor Entry = Node.Element(Index);
    Entry.OnlyKeys({"down_cored", "faults", "expect"});
    BootVariation Variation;
    if (Entry.Has("down_cored")) Variation.DownCored = Entry.Field("down_cored").Boolean();
    if (Entry.Has("faults")) ReadFaults(Entry.Field("faults"), Variation.Faults);
    if (Entry.Has("expect")) ReadExpectation(Entry.Field("expect"), Variation.Expect);
    Result.Boots.push_back(Variation);
  }
}

}  // namespace

const std::vector<std::string> &KnownSiblings() {
  static const std::vector<std::string> kNames = {
      "pcd",         "fabric_topology", "fabric_numa",      "fabric_system", "core_topology",     "core_topology_v2",
      "mp_services", "variable_write",  "oc_trigger",       "smm_control",   "smm_communication",
      "option_hook", "soc",             "smu",              "fabric_mmio",   "region"};
  return kNames;
}

const std::vector<std::string> &BootPhases() {
  static const std::vector<std::string> kPhases = {"entry", "ready_to_lock", "ready_to_boot"};
  return kPhases;
}

bool Machine::SiblingAtStart(const std::string &SiblingName) const {
  auto It = Siblings.find(SiblingName);
  return It == Siblings.end() || It->second.When == SiblingArrival::Start;
}

bool Machine::SiblingExists(const std::string &SiblingName) const {
  auto It = Siblings.find(SiblingName);
  return It == Siblings.end() || It->second.When != SiblingArrival::Absent;
}

namespace {

// Checks a description, its bases applied, and reads it into a Machine.
Machine ReadMachine(const MergedDescription<nlohmann::json> &Merged, const std::string &Source) {
  const nlohmann::json &Document = Merged.Document;
  const JsonCursor Root(Document, Merged.Sources);
  Root.OnlyKeys({"name", "description", "topology", "cpuid", "msrs", "socket_msrs", "processors", "memory", "smram",
                 "pcd", "siblings", "faults", "simulation_backdoor", "options", "heap_hobs", "coprocessor",
                 "down_cored", "boots", "expect", "numa_domains", "cppc", "soc", "smu", "mmio_pool", "token_store", "s3"});
  Machine Result;
  Result.Source = Source;
  Result.Name = Root.Field("name").String();
  if (Root.Has("description")) Result.Description = Root.Field("description").String();
  ReadTopology(Root.Field("topology"), Result);
  try {
    Result.Shape.Validate();
  } catch (const TopologyError &Error) {
    Root.Field("topology").Fail(Error.what());
  }
  if (Root.Has("cpuid")) ReadCpuid(Root.Field("cpuid"), Result.Processors.Cpuid);
  if (Root.Has("msrs")) Result.Processors.MsrResetValues = ReadMsrs(Root.Field("msrs"));
  ReadProcessorOverrides(Root, Result);
  CheckFoldedComplexes(Root, Result);
  ReadMemory(Root.Field("memory"), Result);
  if (Root.Has("smram")) ReadSmram(Root.Field("smram"), Result);
  if (Root.Has("pcd")) ReadPcd(Root.Field("pcd"), Result);
  if (Root.Has("siblings")) ReadSiblings(Root.Field("siblings"), Result);
  if (Root.Has("faults")) ReadFaults(Root.Field("faults"), Result.Faults);
  if (Root.Has("expect")) ReadExpectation(Root.Field("expect"), Result.Expect);
  if (Root.Has("numa_domains")) ReadNumaDomains(Root.Field("numa_domains"), Result);
  if (Root.Has("cppc")) ReadCppc(Root.Field("cppc"), Result);
  if (Root.Has("options")) ReadOptions(Root.Field("options"), Result);
  if (Root.Has("simulation_backdoor")) Result.SimulationBackdoor = Root.Field("simulation_backdoor").Boolean();
  if (Root.Has("heap_hobs")) ReadHeapHobs(Root.Field("heap_hobs"), Result);
  // Down-cored is the down-core buffer among the heap HOBs, whichever way the file says it.
  if (Root.Has("down_cored") && Root.Field("down_cored").Boolean()) SetDownCored(Result, true);
  if (Root.Has("boots")) ReadBoots(Root.Field("boots"), Result);
  if (Root.Has("coprocessor")) ReadCoprocessor(Root.Field("coprocessor"), Result);
  if (Root.Has("soc")) ReadSoc(Root.Field("soc"), Result);
  if (Root.Has("smu")) ReadSmu(Root.Field("smu"), Result);
  if (Root.Has("mmio_pool")) ReadMmioPool(Root.Field("mmio_pool"), Result);
  if (Root.Has("token_store")) ReadTokenStore(Root.Field("token_store"), Result.TokenStore);
  if (Root.Has("s3")) ReadS3Platform(Root.Field("s3"), Result.S3);
  CheckProcessorNumbers(Root, Result);
  CheckAddressMap(Root, Result);
  return Result;
}

}  // namespace

Machine ParseMachine(const std::string &JsonText, const std::string &Source,
                     const std::optional<std::filesystem::path> &BaseDirectory) {
  return ReadMachine(MergeDescription<nlohmann::json>(JsonText, Source, BaseDirectory), Source);
}

Machine LoadMachineFile(const std::string &Path) {
  return ReadMachine(MergeDescriptionFile<nlohmann::json>(Path), Path);
}

std::string MergedMachineText(const std::string &Path) {
  LoadMachineFile(Path);
  return MergeDescriptionFile<nlohmann::ordered_json>(Path).Document.dump(2) + "\n";
}

Machine DefaultMachine() { return ParseMachine(DefaultMachineText(), kDefaultMachineSource); }

}  // namespace sim
