// The machine keys the affinity builders rely on: "numa_domains" and "cppc" read strictly, and the
// NUMA service's answers per complex, including a failure named for one complex only.
#include <gtest/gtest.h>

#include <string>

#include "sim/machine/JsonFields.h"
#include "sim/machine/Machine.h"
#include "sim/siblings/FabricServices.h"
#include "sim/siblings/FaultInjector.h"

namespace sim {
namespace {

const std::string kBase = R"({
  "name": "numa",
  "topology": {"sockets": 2, "dies_per_socket": 1, "complex_dies_per_die": 2, "complexes_per_complex_die": 1,
               "cores_per_complex": 2, "threads_per_core": 2},
  "memory": {"dram": [{"base": "0x100000", "size": "0x1000000"}]},
  "msrs": {"0xC0010058": "0x000003FB00000021"})";

const std::string kMachine = kBase + R"json(,
  "numa_domains": [{"socket": 1, "complex_die": 1, "domain": 9}],
  "faults": [{"service": "fabric_numa", "query": "GetProximityDomain(0,0,1,0)", "call": 2, "status": "0x8000000000000007"}],
  "cppc": {"autonomous_selection": 1, "overrides": [{"element": 20, "value": 3000}, {"element": 19, "value": 5, "present": false}]}
})json";

std::string WithKey(const std::string &Key, const std::string &Value) {
  return kBase + ", \"" + Key + "\": " + Value + "}";
}

TEST(AffinityMachineKeys, DomainsAndBuilderSettingsAreRead) {
  const Machine Description = ParseMachine(kMachine, "numa.json");
  ASSERT_EQ(Description.NumaDomains.size(), 1u);
  EXPECT_EQ(Description.NumaDomains[0].Socket, 1u);
  EXPECT_EQ(Description.NumaDomains[0].ComplexDie, 1u);
  EXPECT_EQ(Description.NumaDomains[0].Domain, 9u);
  EXPECT_EQ(Description.Cppc.AutonomousSelection, 1);
  ASSERT_EQ(Description.Cppc.Overrides.size(), 2u);
  EXPECT_EQ(Description.Cppc.Overrides[0].Element, 20u);
  EXPECT_TRUE(Description.Cppc.Overrides[0].Present);
  EXPECT_FALSE(Description.Cppc.Overrides[1].Present);
}

struct BadKey {
  const char *Key;
  const char *Value;
  const char *Expected;
};

class AffinityMachineKeyRefused : public ::testing::TestWithParam<BadKey> {};

TEST_P(AffinityMachineKeyRefused, NamesTheField) {
  try {
    ParseMachine(WithKey(GetParam().Key, GetParam().Value), "bad.json");
    FAIL() << "accepted " << GetParam().Value;
  } catch (const MachineError &Error) {
    EXPECT_NE(std::string(Error.what()).find(GetParam().Expected), std::string::npos) << Error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, AffinityMachineKeyRefused,
    ::testing::Values(BadKey{"numa_domains", R"([{"socket": 2, "domain": 1}])", "numa_domains[0].socket"},
                      BadKey{"numa_domains", R"([{"complex_die": 2, "domain": 1}])", "numa_domains[0].complex_die"},
                      BadKey{"numa_domains", R"([{"socket": 0}])", "numa_domains[0]: missing field \"domain\""},
                      BadKey{"cppc", R"({"overrides": [{"element": 19, "valu": 1}]})", "cppc.overrides[0]"},
                      BadKey{"cppc", R"({"autonomous": 1})", "cppc"}));

TEST(AffinityMachineKeys, NumaServiceAnswersPerComplexAndFailsTheNamedOne) {
  const Machine Description = ParseMachine(kMachine, "numa.json");
  FaultInjector Faults(Description.Faults);
  FabricServices Fabric(Description.Shape, Faults);
  for (const ComplexDomain &Domain : Description.NumaDomains) {
    TopologyPosition Complex;
    Complex.Socket = Domain.Socket;
    Complex.ComplexDie = Domain.ComplexDie;
    Fabric.SetProximityDomain(Complex, Domain.Domain);
  }
  QORVEX_FABRIC_NUMA_SERVICES_PROTOCOL *Numa = Fabric.NumaProtocol();
  UINT32 Domain = 0xAA;
  EXPECT_EQ(Numa->GetProximityDomain(Numa, 1, 0, 1, 0, &Domain), EFI_SUCCESS);
  EXPECT_EQ(Domain, 9u);
  EXPECT_EQ(Numa->GetProximityDomain(Numa, 1, 0, 0, 0, &Domain), EFI_SUCCESS);
  EXPECT_EQ(Domain, 1u);
  // The named complex answers its first query and fails its second, leaving the output alone.
  EXPECT_EQ(Numa->GetProximityDomain(Numa, 0, 0, 1, 0, &Domain), EFI_SUCCESS);
  EXPECT_EQ(Domain, 0u);
  Domain = 0xAA;
  EXPECT_EQ(Numa->GetProximityDomain(Numa, 0, 0, 1, 0, &Domain), 0x8000000000000007ULL);
  EXPECT_EQ(Domain, 0xAAu);
  EXPECT_EQ(Numa->GetProximityDomain(Numa, 0, 0, 1, 0, &Domain), EFI_SUCCESS);
}

}  // namespace
}  // namespace sim
