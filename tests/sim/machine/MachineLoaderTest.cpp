// Machine descriptions: the default machine, the shipped examples, and the errors a bad file gets.
#include <gtest/gtest.h>

#include <filesystem>

#include "interfaces/PlatformConfig.h"
#include "sim/machine/JsonFields.h"
#include "sim/machine/Machine.h"

namespace sim {
namespace {

// The minimal machine with MSR reset values besides the PCI configuration base every machine gives.
std::string WithMsrs(const std::string &More) {
  return R"({"name": "m", "topology": {"sockets": 1, "dies_per_socket": 1, "complex_dies_per_die": 1,
  "complexes_per_complex_die": 1, "cores_per_complex": 2, "threads_per_core": 1},
  "memory": {"dram": [{"base": "0x100000", "size": "0x1000000"}]}, "msrs": {"0xC0010058": "0x000003FB00000021")" +
         More + "}}";
}

const std::string kMinimal = WithMsrs("");

// A one-socket machine whose topology counts after the socket/die ones are given as text.
std::string WithTopology(const std::string &Counts) {
  return R"({"name": "m", "topology": {"sockets": 1, "dies_per_socket": 1, "complexes_per_complex_die": 1, )" + Counts +
         R"(}, "memory": {"dram": [{"base": "0x100000", "size": "0x1000000"}]},
         "msrs": {"0xC0010058": "0x000003FB00000021"}})";
}

// The minimal machine with further top-level fields.
std::string Minimal(const std::string &Extra) {
  std::string Text = kMinimal;
  Text.insert(Text.size() - 1, Extra);
  return Text;
}

TEST(DefaultMachine, IsOneSocketOfEightComplexDiesOf128Threads) {
  const Machine Default = DefaultMachine();
  EXPECT_EQ(Default.Name, "default");
  EXPECT_EQ(Default.Shape.Walk().size(), 128u);
  EXPECT_EQ(Default.Shape.Count(TopologyLevel::ComplexDie, {}), 8u);
  EXPECT_EQ(Default.Pcd.at(PcdCcxSnpMode), 2u);
  EXPECT_TRUE(Default.SiblingAtStart("mp_services"));
  ASSERT_TRUE(Default.Processors.Cpuid.Find(0x8000001F, 0).has_value());
  EXPECT_EQ(Default.Processors.Cpuid.Find(0x8000001F, 0)->Eax & 0x10, 0x10u) << "the default machine is SNP-capable";
}

TEST(ShippedMachines, EveryExampleLoads) {
  size_t Count = 0;
  for (const auto &Entry : std::filesystem::directory_iterator(CCX_MACHINES_DIR)) {
    if (Entry.path().extension() != ".json") continue;
    EXPECT_NO_THROW(LoadMachineFile(Entry.path().string())) << Entry.path();
    Count++;
  }
  EXPECT_GE(Count, 3u);
}

TEST(MachineFile, NumbersMayBeHexStringsOrDecimal) {
  std::string Text = WithMsrs(R"(, "0xC001001D": "4294967296")");
  Text.insert(Text.size() - 1, R"(, "pcd": {"PcdCcxSnpMemSizeToCover": "0x400", "PcdCcxSnpMode": 2,
     "PcdCcxVmplEnable": true})");
  const Machine M = ParseMachine(Text, "m.json");
  EXPECT_EQ(M.Pcd.at(PcdCcxSnpMemSizeToCover), 0x400u);
  EXPECT_EQ(M.Pcd.at(PcdCcxVmplEnable), 1u);
  EXPECT_EQ(M.Processors.MsrResetValues.at(0xC001001D), 0x100000000u);
}

TEST(MachineFile, UnevenCoreCountsComeFromOverrides) {
  const Machine M = ParseMachine(WithTopology(R"("complex_dies_per_die": 2, "cores_per_complex": 8, "threads_per_core": 2,
      "overrides": [{"socket": 0, "die": 0, "complex_die": 1, "complex": 0, "cores": 7}])"),
                                 "u.json");
  EXPECT_EQ(M.Shape.Walk().size(), 30u);
  TopologyPosition Second;
  Second.ComplexDie = 1;
  EXPECT_EQ(M.Shape.Count(TopologyLevel::Core, Second), 7u);
}

TEST(MachineFile, LateSiblingsAndFaultsAreRead) {
  const Machine M = ParseMachine(Minimal(R"(, "siblings": {"mp_services": {"after": "entry"},
      "oc_trigger": {"after": "mp_services"}, "variable_write": "absent"},
      "faults": [{"service": "fabric_topology", "query": "GetNumberOfCores", "call": 3, "status": "0x8000000000000007"}])"),
                                 "m.json");
  EXPECT_FALSE(M.SiblingAtStart("mp_services"));
  EXPECT_TRUE(M.SiblingExists("mp_services"));
  EXPECT_FALSE(M.SiblingExists("variable_write"));
  EXPECT_TRUE(M.SiblingAtStart("fabric_numa"));
  ASSERT_EQ(M.Faults.size(), 1u);
  EXPECT_EQ(M.Faults[0].Call, 3u);
  EXPECT_EQ(M.Faults[0].Status, 0x8000000000000007u);
}

struct BadFile {
  const char *Why;
  std::string Text;
  const char *Expected;  // a fragment the message must contain
};

class MalformedMachine : public ::testing::TestWithParam<BadFile> {};

TEST_P(MalformedMachine, IsRefusedWithTheFieldPathAndWhatWasExpected) {
  try {
    ParseMachine(GetParam().Text, "bad.json");
    FAIL() << "accepted: " << GetParam().Why;
  } catch (const MachineError &Error) {
    const std::string Message = Error.what();
    EXPECT_EQ(Message.rfind("bad.json: ", 0), 0u) << Message;
    EXPECT_NE(Message.find(GetParam().Expected), std::string::npos) << Message;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Errors, MalformedMachine,
    ::testing::Values(
        BadFile{"not JSON", "{", "not valid JSON"},
        BadFile{"unknown top-level key", Minimal(R"(, "topolgy": 1)"), "topolgy: unknown field \"topolgy\""},
        BadFile{"too many cores", std::string(kMinimal).replace(std::string(kMinimal).find("\"cores_per_complex\": 2"), 22,
                                                               "\"cores_per_complex\": 9"),
                "topology.cores_per_complex: expected an unsigned number from 1 to 8, got 9"},
        BadFile{"negative number", Minimal(R"(, "pcd": {"PcdCcxSnpMode": -1})"), "pcd.PcdCcxSnpMode: expected"},
        BadFile{"value too wide for its item", Minimal(R"(, "pcd": {"PcdCcxSnpMode": 256})"), "from 0 to 255"},
        BadFile{"unknown configuration item", Minimal(R"(, "pcd": {"PcdNoSuchThing": 1})"),
                "pcd.PcdNoSuchThing: not a configuration item"},
        BadFile{"bad hex", WithMsrs(R"(, "0xC001001D": "0xZZ")"), "msrs.0xC001001D: expected an unsigned number"},
        BadFile{"bad MSR key", WithMsrs(R"(, "TOP_MEM2": "0x0")"), "msrs.TOP_MEM2: an MSR key"},
        // One answer for every sub-leaf would list caches without end.
        BadFile{"cache leaf without sub-leaves", Minimal(R"(, "cpuid": {"0x8000001D": {"eax": "0x121"}})"),
                "cpuid.0x8000001D: the cache-properties leaf answers by sub-leaf"},
        BadFile{"sub-leaf of a leaf that takes none", Minimal(R"(, "cpuid": {"0x80000005.1": {"eax": "0x1"}})"),
                "cpuid.0x80000005.1: this leaf answers the same whatever ECX holds"},
        BadFile{"overlapping DRAM",
                std::string(kMinimal).replace(std::string(kMinimal).find("[{"), 2,
                                              R"([{"base": "0x200000", "size": "0x1000"}, {)"),
                "memory.dram[1]: the range (0x100000-0x10FFFFF) overlaps memory.dram[0] (0x200000-0x200FFF)"},
        BadFile{"unaligned DRAM", std::string(kMinimal).replace(std::string(kMinimal).find("0x100000"), 8, "0x100800"),
                "memory.dram[0]: DRAM ranges are 4 KB aligned"},
        BadFile{"missing field", R"({"name": "m"})", "(top level): missing field \"topology\""},
        BadFile{"unknown sibling", Minimal(R"(, "siblings": {"mp_service": "start"})"),
                "siblings.mp_service: not a sibling component"},
        BadFile{"arrival after an absent sibling",
                Minimal(R"(, "siblings": {"mp_services": "absent", "oc_trigger": {"after": "mp_services"}})"),
                "siblings.oc_trigger.after: \"mp_services\" never arrives"},
        BadFile{"arrivals in a circle",
                Minimal(R"(, "siblings": {"mp_services": {"after": "oc_trigger"}, "oc_trigger": {"after": "mp_services"}})"),
                "wait for each other in a circle"},
        BadFile{"override with two counts",
                WithTopology(R"("complex_dies_per_die": 1, "cores_per_complex": 2, "threads_per_core": 1,
                   "overrides": [{"socket": 0, "die": 0, "cores": 1, "complex_dies": 1}])"),
                "topology.overrides[0]: an override sets exactly one count"},
        BadFile{"override index out of range",
                WithTopology(R"("complex_dies_per_die": 1, "cores_per_complex": 2, "threads_per_core": 1,
                   "overrides": [{"socket": 0, "die": 0, "complex_die": 12, "complex": 0, "cores": 1}])"),
                "topology.overrides[0].complex_die: expected an unsigned number from 0 to 11"}));

// What would otherwise let one of two values win silently, or stop only the boot.
INSTANTIATE_TEST_SUITE_P(
    Ambiguous, MalformedMachine,
    ::testing::Values(
        BadFile{"a key twice at the top", Minimal(R"(, "name": "n")"),
                "bad.json: (top level): the key \"name\" appears twice in this object"},
        BadFile{"a key twice below", Minimal(R"(, "pcd": {"PcdCcxSnpMode": 1, "PcdCcxSnpMode": 2})"),
                "bad.json: pcd: the key \"PcdCcxSnpMode\" appears twice in this object"},
        BadFile{"an MSR in two cases", WithMsrs(R"(, "0xc0010058": "0x000003FB00000021")"),
                "msrs.0xc0010058: \"0xC0010058\" and \"0xc0010058\" are both MSR 0xC0010058"},
        BadFile{"an MSR in decimal and hex", WithMsrs(R"(, "0x1B": "0", "27": "0")"),
                "msrs.27: \"0x1B\" and \"27\" are both MSR 0x1B"},
        BadFile{"a CPUID leaf in decimal and hex",
                Minimal(R"(, "cpuid": {"0x80000008": {"eax": "0x3030"}, "2147483656": {"eax": "0x3030"}})"),
                "cpuid.2147483656: \"0x80000008\" and \"2147483656\" are both leaf 0x80000008"},
        BadFile{"a CPUID sub-leaf written two ways",
                Minimal(R"(, "cpuid": {"0x8000001D.1": {"eax": "0"}, "0x8000001D.0x1": {"eax": "0"}})"),
                "are both leaf 0x8000001D sub-leaf 0x1"},
        BadFile{"a processor listed twice", Minimal(R"(, "processors": [{"index": 1, "msrs": {}}, {"index": 1}])"),
                "processors[1].index: processor 1 is listed already (entry 0)"},
        BadFile{"two dies in a socket",
                std::string(kMinimal).replace(std::string(kMinimal).find("\"dies_per_socket\": 1"), 20,
                                              "\"dies_per_socket\": 2"),
                "topology.dies_per_socket: a socket of this processor has one die"},
        BadFile{"an override to two dies",
                WithTopology(R"("complex_dies_per_die": 1, "cores_per_complex": 2, "threads_per_core": 1,
                   "overrides": [{"socket": 0, "dies": 2}])"),
                "topology.overrides[0].dies: a socket of this processor has one die"},
        BadFile{"no PCI configuration base",
                std::string(kMinimal).replace(std::string(kMinimal).find("0xC0010058"), 10, "0xC001001D"),
                "msrs: the processors need MSR 0xC0010058"}));

TEST(MachineFile, TheConfigurationBaseMayBeTheBspsOwn) {
  std::string Text = kMinimal;
  Text.replace(Text.find("0xC0010058"), 10, "0xC001001D");
  Text.insert(Text.size() - 1, R"(, "processors": [{"index": 0, "msrs": {"0xC0010058": "0x000003FB00000021"}}])");
  EXPECT_EQ(ParseMachine(Text, "m.json").Processors.MsrResetOverrides.at(0).at(0xC0010058), 0x3FB00000021u);
}

// Every reader walks a document one call per level, so nesting is held to 64 levels.
TEST(MachineFile, NestingPastTheCapIsRefusedAtOnce) {
  const auto Nested = [](size_t Levels) {
    return Minimal(R"(, "description": )" + std::string(Levels, '[') + std::string(Levels, ']'));
  };
  const auto Refusal = [](const std::string &Text) {
    try {
      ParseMachine(Text, "deep.json");
    } catch (const MachineError &Error) {
      return std::string(Error.what());
    }
    return std::string("accepted");
  };
  // The description and its 63 levels of arrays are 64 levels: read, and refused as no string.
  EXPECT_EQ(Refusal(Nested(63)).find("description: expected a string"), 11u) << Refusal(Nested(63));
  const std::string TooDeep = Refusal(Nested(64));
  EXPECT_EQ(TooDeep.rfind("deep.json: description[0]", 0), 0u) << TooDeep;
  EXPECT_NE(TooDeep.find("[0]: nested deeper than 64 levels of objects and arrays"), std::string::npos) << TooDeep;
  EXPECT_NE(Refusal(Nested(100000)).find("nested deeper than 64 levels"), std::string::npos);
}

}  // namespace
}  // namespace sim
