// Reads a machine description (JSON) into a Machine, strictly: every field is checked for its
// type and range, unknown keys are refused, and every error names the file and the field path.
#include <fstream>
#include <sstream>

#include "interfaces/PlatformConfig.h"
#include "sim/machine/JsonFields.h"
#include "sim/machine/Machine.h"

namespace sim {
namespace {

constexpr uint64_t kMaxPhysicalAddress = (1ULL << 52) - 1;

struct PcdItem {
  const char *Name;
  uint64_t Token;
  unsigned Width;
};

const PcdItem kPcdItems[] = {
#define CCX_PCD_NAME(Name, Token, Width) {#Name, Token, Width},
    CCX_PCD_ITEMS(CCX_PCD_NAME)
#undef CCX_PCD_NAME
};

void ReadTopology(const JsonCursor &Node, Machine &Result) {
  Node.OnlyKeys({"sockets", "dies_per_socket", "complex_dies_per_die", "complexes_per_complex_die",
                 "cores_per_complex", "threads_per_core", "core_field_padding", "overrides"});
  UniformTopology Counts;
  Counts.Sockets = uint32_t(Node.Field("sockets").Unsigned(1, 4));
  Counts.DiesPerSocket = uint32_t(Node.Field("dies_per_socket").Unsigned(1, 4));
  Counts.ComplexDiesPerDie = uint32_t(Node.Field("complex_dies_per_die").Unsigned(1, 12));
  Counts.ComplexesPerComplexDie = uint32_t(Node.Field("complexes_per_complex_die").Unsigned(1, 2));
  Counts.CoresPerComplex = uint32_t(Node.Field("cores_per_complex").Unsigned(1, 8));
  Counts.ThreadsPerCore = uint32_t(Node.Field("threads_per_core").Unsigned(1, 2));
  Result.Shape = Topology(Counts);
  if (Node.Has("core_field_padding")) Result.Processors.CoreFieldPadding = Node.Field("core_field_padding").Boolean();
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
    Result.Shape.SetCount(kLevels[Found].Level, Holder,
                          uint32_t(Entry.Field(kLevels[Found].CountKey).Unsigned(1, kLevels[Found].Max)));
  }
}

// "0x8000001D" or "0x8000001D.3" (leaf and sub-leaf) → registers.
void ReadCpuid(const JsonCursor &Node, CpuidTable &Table) {
  Node.ExpectObject();
  for (const auto &[Key, Unused] : Node.Value().items()) {
    const JsonCursor Entry = Node.Field(Key);
    const size_t Dot = Key.find('.');
    uint64_t Leaf = 0, SubLeaf = 0;
    if (!ParseUnsigned(Key.substr(0, Dot), Leaf) || Leaf > 0xFFFFFFFF ||
        (Dot != std::string::npos && (!ParseUnsigned(Key.substr(Dot + 1), SubLeaf) || SubLeaf > 0xFFFFFFFF))) {
      Entry.Fail("a CPUID key is a leaf number or leaf.subleaf, such as \"0x8000001D.3\"");
    }
    Entry.OnlyKeys({"eax", "ebx", "ecx", "edx"});
    CpuidValue Value;
    if (Entry.Has("eax")) Value.Eax = uint32_t(Entry.Field("eax").Unsigned(0, 0xFFFFFFFF));
    if (Entry.Has("ebx")) Value.Ebx = uint32_t(Entry.Field("ebx").Unsigned(0, 0xFFFFFFFF));
    if (Entry.Has("ecx")) Value.Ecx = uint32_t(Entry.Field("ecx").Unsigned(0, 0xFFFFFFFF));
    if (Entry.Has("edx")) Value.Edx = uint32_t(Entry.Field("edx").Unsigned(0, 0xFFFFFFFF));
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
  for (const auto &[Key, Unused] : Node.Value().items()) {
    const JsonCursor Entry = Node.Field(Key);
    uint64_t Number = 0;
    if (!ParseUnsigned(Key, Number) || Number > 0xFFFFFFFF) Entry.Fail("an MSR key is a 32-bit number such as \"0xC0010058\"");
    Msrs[uint32_t(Number)] = Entry.Unsigned();
  }
  return Msrs;
}

void ReadProcessorOverrides(const JsonCursor &Root, Machine &Result) {
  const std::vector<TopologyPosition> Walk = Result.Shape.Walk();
  if (Root.Has("socket_msrs")) {
    const JsonCursor List = Root.Field("socket_msrs");
    List.ExpectArray();
    for (size_t Index = 0; Index < List.Value().size(); Index++) {
      const JsonCursor Entry = List.Element(Index);
      Entry.OnlyKeys({"socket", "msrs"});
      const uint64_t Socket = Entry.Field("socket").Unsigned(0, Result.Shape.Count(TopologyLevel::Socket) - 1);
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
    for (size_t Index = 0; Index < List.Value().size(); Index++) {
      const JsonCursor Entry = List.Element(Index);
      Entry.OnlyKeys({"index", "msrs", "cpuid"});
      const uint64_t Processor = Entry.Field("index").Unsigned(0, Walk.size() - 1);
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
    for (const DramRange &Other : Result.Dram) {
      if (Range.base < Other.base + Other.length && Other.base < Range.base + Range.length) {
        Entry.Fail("this DRAM range overlaps an earlier one");
      }
    }
    Result.Dram.push_back(Range);
  }
}

void ReadSmram(const JsonCursor &Node, Machine &Result) {
  Node.ExpectArray();
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
    const PcdItem *Item = nullptr;
    for (const PcdItem &Candidate : kPcdItems) {
      if (Key == Candidate.Name) Item = &Candidate;
    }
    if (Item == nullptr) Entry.Fail("not a configuration item of this platform");
    const uint64_t Max = Item->Width == 8 ? UINT64_MAX : (1ULL << (8 * Item->Width)) - 1;
    Result.Pcd[Item->Token] = Entry.Value().is_boolean() ? (Entry.Boolean() ? 1 : 0) : Entry.Unsigned(0, Max);
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

void ReadFaults(const JsonCursor &Node, Machine &Result) {
  Node.ExpectArray();
  for (size_t Index = 0; Index < Node.Value().size(); Index++) {
    const JsonCursor Entry = Node.Element(Index);
    Entry.OnlyKeys({"service", "query", "call", "status"});
    InjectedFault Fault;
    Fault.Service = Entry.Field("service").String();
    Fault.Query = Entry.Field("query").String();
    Fault.Call = Entry.Has("call") ? Entry.Field("call").Unsigned(1) : 1;
    Fault.Status = Entry.Field("status").Unsigned();
    Result.Faults.push_back(Fault);
  }
}

}  // namespace

std::string PcdItemName(uint64_t Token) {
  for (const PcdItem &Item : kPcdItems) {
    if (Item.Token == Token) return Item.Name;
  }
  return std::to_string(Token);
}

const std::vector<std::string> &KnownSiblings() {
  static const std::vector<std::string> kNames = {
      "pcd",         "fabric_topology", "fabric_numa",      "fabric_system", "core_topology",     "core_topology_v2",
      "mp_services", "variable_write",  "oc_trigger",       "smm_control",   "smm_communication"};
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

Machine ParseMachine(const std::string &JsonText, const std::string &Source) {
  nlohmann::json Document;
  try {
    Document = nlohmann::json::parse(JsonText);
  } catch (const nlohmann::json::parse_error &Error) {
    throw MachineError(Source + ": not valid JSON: " + Error.what());
  }
  const JsonCursor Root(Document, Source, "");
  Root.OnlyKeys({"name", "description", "topology", "cpuid", "msrs", "socket_msrs", "processors", "memory", "smram",
                 "pcd", "siblings", "faults", "simulation_backdoor"});
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
  ReadMemory(Root.Field("memory"), Result);
  if (Root.Has("smram")) ReadSmram(Root.Field("smram"), Result);
  if (Root.Has("pcd")) ReadPcd(Root.Field("pcd"), Result);
  if (Root.Has("siblings")) ReadSiblings(Root.Field("siblings"), Result);
  if (Root.Has("faults")) ReadFaults(Root.Field("faults"), Result);
  if (Root.Has("simulation_backdoor")) Result.SimulationBackdoor = Root.Field("simulation_backdoor").Boolean();
  return Result;
}

Machine LoadMachineFile(const std::string &Path) {
  std::ifstream File(Path);
  if (!File) throw MachineError(Path + ": cannot open the machine description");
  std::ostringstream Text;
  Text << File.rdbuf();
  return ParseMachine(Text.str(), Path);
}

Machine DefaultMachine() { return ParseMachine(DefaultMachineText(), "built-in default machine"); }

}  // namespace sim
