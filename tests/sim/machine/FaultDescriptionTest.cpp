// Fault descriptions and expectations in a machine file: names checked against the one table of
// sibling queries (and refused naming the file, the field and the names valid there), faults and
// expectations of one boot, and the table as docs/machines.md lists it.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "sim/machine/FaultQueries.h"
#include "sim/machine/JsonFields.h"
#include "sim/machine/Machine.h"
#include "tests/sim/machine/MinimalMachine.h"

namespace sim {
namespace {

std::string Fault(const std::string &Service, const std::string &Query, const std::string &Status) {
  return R"({"service": ")" + Service + R"(", "query": ")" + Query + R"(", "status": )" + Status + "}";
}

TEST(FaultDescription, StatusIsANumberOrAnEfiStatusName) {
  const Machine M =
      ParseMachine(Minimal(R"(, "faults": [)" + Fault("fabric_topology", "GetNumberOfCores", R"("EFI_DEVICE_ERROR")") +
                           ", " + Fault("smu", "SmuRegisterRead", R"("0x8000000000000012")") + ", " +
                           Fault("soc", "GetMaxCoreFid", "5") + "]"),
                   "m.json");
  ASSERT_EQ(M.Faults.size(), 3u);
  EXPECT_EQ(M.Faults[0].Status, 0x8000000000000007u);
  EXPECT_EQ(M.Faults[0].Call, 1u);
  EXPECT_EQ(M.Faults[1].Status, 0x8000000000000012u);
  EXPECT_EQ(M.Faults[2].Status, 5u);
}

// The services count the query of one complex as "GetProximityDomain(1,0,2,0)", whatever spaces a
// file writes.
TEST(FaultDescription, QueryOfOneComplexIsCountedWithoutSpaces) {
  const Machine M = ParseMachine(
      Minimal(R"(, "faults": [)" + Fault("fabric_numa", "GetProximityDomain( 1, 0,2 ,0)", "7") + "]"), "m.json");
  ASSERT_EQ(M.Faults.size(), 1u);
  EXPECT_EQ(M.Faults[0].Query, "GetProximityDomain(1,0,2,0)");
}

struct BadName {
  const char *Why;
  std::string Extra;
  std::vector<std::string> Expected;  // fragments the message must contain
};

class MisspelledName : public ::testing::TestWithParam<BadName> {};

TEST_P(MisspelledName, IsRefusedNamingTheFileTheFieldAndTheValidNames) {
  try {
    ParseMachine(Minimal(GetParam().Extra), "typo.json");
    FAIL() << "accepted: " << GetParam().Why;
  } catch (const MachineError &Error) {
    const std::string Message = Error.what();
    EXPECT_EQ(Message.rfind("typo.json: ", 0), 0u) << Message;
    for (const std::string &Fragment : GetParam().Expected)
      EXPECT_NE(Message.find(Fragment), std::string::npos) << Message;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MisspelledName,
    ::testing::Values(
        BadName{"query",
                R"(, "faults": [)" + Fault("fabric_topology", "GetNumberOfCore", "7") + "]",
                {"faults[0].query: unknown query \"GetNumberOfCore\" of service \"fabric_topology\"",
                 "GetNumberOfSockets, GetNumberOfDies, GetNumberOfComplexDies, GetNumberOfComplexes, GetNumberOfCores, "
                 "GetNumberOfThreads"}},
        BadName{
            "service",
            R"(, "faults": [)" + Fault("fabric_topo", "GetNumberOfCores", "7") + "]",
            {"faults[0].service: unknown service \"fabric_topo\"",
             "fabric_topology, fabric_numa, fabric_system, core_topology, option_hook, soc, smu, fabric_mmio, region"}},
        BadName{"status name",
                R"(, "faults": [)" + Fault("smu", "SmuRegisterRead", R"("EFI_DEVICE_EROR")") + "]",
                {"faults[0].status: unknown status \"EFI_DEVICE_EROR\"", "EFI_DEVICE_ERROR", "EFI_TIMEOUT"}},
        BadName{"query of a complex with three indices",
                R"(, "faults": [)" + Fault("fabric_numa", "GetProximityDomain(1,0,2)", "7") + "]",
                {"faults[0].query", "GetProximityDomain(socket,die,complex_die,complex)"}},
        BadName{"query of another service",
                R"(, "faults": [)" + Fault("soc", "SmuRegisterRead", "7") + "]",
                {"faults[0].query: unknown query \"SmuRegisterRead\" of service \"soc\""}},
        BadName{"query in a boot's faults",
                R"(, "boots": [{}, {"faults": [)" + Fault("region", "Register", "7") + "]}]",
                {"boots[1].faults[0].query: unknown query \"Register\"", "RegisterRegion"}},
        BadName{"status in an expectation",
                R"(, "expect": {"entry_status": "EFI_SUCCES"})",
                {"expect.entry_status: unknown status \"EFI_SUCCES\"", "EFI_SUCCESS"}},
        BadName{"sibling failure without a service",
                R"(, "expect": {"sibling_failures": ["GetNumberOfCores"]})",
                {"expect.sibling_failures[0]: expected \"service.query\"", "fabric_topology"}},
        BadName{"sibling failure with an unknown query",
                R"(, "boots": [{"expect": {"sibling_failures": ["soc.GetMaxFid"]}}])",
                {"boots[0].expect.sibling_failures[0]: unknown query \"GetMaxFid\"", "GetMaxCoreFid"}},
        BadName{"unknown expectation", R"(, "expect": {"exit_status": 0})", {"expect.exit_status: unknown field"}}),
    [](const ::testing::TestParamInfo<BadName> &Info) {
      std::string Name = Info.param.Why;
      for (char &Letter : Name) Letter = std::isalnum(static_cast<unsigned char>(Letter)) ? Letter : '_';
      return Name;
    });

// The machine's faults hold for every boot; a boot's own are added for that boot only (and, like
// every field of the last entry, for the boots past the list).
TEST(FaultDescription, BootFaultsComeOnTopOfTheMachinesForTheirBootOnly) {
  const Machine Run = ParseMachine(Minimal(R"(, "faults": [)" + Fault("soc", "GetMaxCoreFid", "7") + R"(],
          "boots": [{}, {"faults": [)" + Fault("smu", "SmuRegisterRead", "7") +
                                           R"(]}, {}])"),
                                   "m.json");
  const std::vector<std::vector<std::string>> Expected = {
      {"GetMaxCoreFid"}, {"GetMaxCoreFid", "SmuRegisterRead"}, {"GetMaxCoreFid"}, {"GetMaxCoreFid"}};
  for (uint64_t Boot = 1; Boot <= Expected.size(); Boot++) {
    std::vector<std::string> Queries;
    for (const InjectedFault &Each : MachineForBoot(Run, Boot).Faults) Queries.push_back(Each.Query);
    EXPECT_EQ(Queries, Expected[Boot - 1]) << "boot " << Boot;
  }
}

TEST(FaultDescription, BootExpectationReplacesTheMachinesFieldByField) {
  const Machine Run =
      ParseMachine(Minimal(R"J(, "expect": {"entry_status": "EFI_DEVICE_ERROR", "fatal_stops": ["0x30910235"]},
          "boots": [{}, {"expect": {"entry_status": "none", "ran_to_its_end": false,
                                    "sibling_failures": ["fabric_numa.GetProximityDomain(0, 0, 0, 0)"]}}])J"),
                   "m.json");
  const BootExpectation First = MachineForBoot(Run, 1).Expect;
  EXPECT_EQ(First.EntryStatus, std::optional<uint64_t>(0x8000000000000007u));
  EXPECT_EQ(First.FatalStops, std::vector<uint32_t>{0x30910235u});
  EXPECT_FALSE(First.RanToItsEnd.has_value());
  EXPECT_FALSE(First.SiblingFailures.has_value());
  const BootExpectation Second = MachineForBoot(Run, 2).Expect;
  ASSERT_TRUE(Second.EntryStatus.has_value());
  EXPECT_FALSE(Second.EntryStatus->has_value());  // the entry is expected not to return
  EXPECT_EQ(Second.FatalStops, std::vector<uint32_t>{0x30910235u});
  EXPECT_EQ(Second.RanToItsEnd, false);
  EXPECT_EQ(Second.SiblingFailures, std::vector<std::string>{"fabric_numa.GetProximityDomain(0,0,0,0)"});
}

// docs/machines.md lists every service with exactly the queries the table holds, in its order.
TEST(FaultQueryTable, IsListedInTheMachineDocs) {
  std::ifstream File(std::string(CCX_DOCS_DIR) + "/machines.md");
  ASSERT_TRUE(File) << "cannot read docs/machines.md";
  std::stringstream Text;
  Text << File.rdbuf();
  std::string Listing;
  for (const std::string &Service : FaultServices()) {
    Listing += (Listing.empty() ? "" : "; ") + ("`" + Service + "`: ");
    const std::vector<std::string> Queries = FaultQueriesOf(Service);
    for (size_t Index = 0; Index < Queries.size(); Index++) Listing += (Index ? ", `" : "`") + Queries[Index] + "`";
  }
  EXPECT_NE(Text.str().find("The services and their queries: " + Listing + "."), std::string::npos)
      << "docs/machines.md should list, in the `faults` row:\nThe services and their queries: " << Listing << ".";
}

// No two entries share a name, and a fault names each query as the services count it.
TEST(FaultQueryTable, NamesEveryQueryOnce) {
  const std::vector<SiblingQueryName> &Queries = SiblingQueries();
  for (size_t Index = 0; Index < Queries.size(); Index++) {
    EXPECT_EQ(std::string(NameOf(Queries[Index].Id).Query), Queries[Index].Query);
    for (size_t Other = 0; Other < Index; Other++) {
      EXPECT_FALSE(std::string(Queries[Other].Service) == Queries[Index].Service &&
                   std::string(Queries[Other].Query) == Queries[Index].Query &&
                   (Queries[Other].Arguments == nullptr) == (Queries[Index].Arguments == nullptr))
          << Queries[Index].Service << "." << Queries[Index].Query;
    }
  }
  EXPECT_EQ(CountedQueryName("fabric_numa", "GetProximityDomain"), "GetProximityDomain");
  EXPECT_EQ(CountedQueryName("fabric_numa", "GetProximityDomain(0,1,2,99999999999)"), std::nullopt);
}

}  // namespace
}  // namespace sim
