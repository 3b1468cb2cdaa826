// The SRAT, the resource affinity table and the _CPC SSDT built after whole boots, read back by
// the real tool: `iasl -d` on the SRAT must show one processor entry per processor the APIC mode
// can describe, with its APIC ID and its complex's domain, and no checksum or unknown-subtable
// complaint (iasl exits 0 on both, so its words are checked); the _CPC ASL must compile cleanly
// and disassemble to one ACPI0007 device per thread with the builder's callback integers. Runs on
// the default machine and on a two-socket x2APIC machine with domains per complex, one of whose
// complexes the NUMA service fails.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "driver/ImageDescriptor.h"
#include "sim/consumers/AffinityTableBuilder.h"
#include "sim/consumers/CpcSsdtBuilder.h"
#include "sim/consumers/Iasl.h"
#include "sim/consumers/SratBuilder.h"
#include "sim/platform/BootRunner.h"

namespace sim {
namespace {

constexpr uint64_t kPcdApicMode = 363;

struct BootTables {
  SratReport Srat;
  AffinityTableReport Affinity;
  CpcSsdtReport Cpc;
  // The processors in walk order: position and APIC ID.
  std::vector<std::pair<TopologyPosition, uint32_t>> Processors;
};

BootTables BuildAfterBoot(const Machine &Description) {
  BootTables Tables;
  BootOptions Options;
  Options.AfterBoot = [&](Platform &Machine) {
    for (size_t Index = 0; Index < Machine.Processors().Count(); Index++) {
      const Processor &Each = Machine.Processors().At(Index);
      Tables.Processors.push_back({Each.Position(), Each.ApicId()});
    }
    Tables.Srat = BuildSrat(Machine);
    Tables.Affinity = BuildAffinityTable(Machine);
    Tables.Cpc = BuildCpcSsdt(Machine);
  };
  RunBoot(Description, CcxImageDescriptor, Options);
  return Tables;
}

// Socket 0 complex dies 0-1 in domain 0 and 2-3 in domain 1; socket 1 complex dies 0-1 in domain
// 2, 2 in domain 3 and 3 in domain 4, whose queries fail for the SRAT and the affinity table.
Machine TwoSocketX2Apic() {
  Machine Description = DefaultMachine();
  Description.Name = "two-socket-x2apic";
  Description.Shape = Topology(UniformTopology{2, 1, 4, 1, 8, 2});
  Description.Processors.MsrResetOverrides.clear();
  Description.Pcd[kPcdApicMode] = 2;
  const uint32_t Domains[2][4] = {{0, 0, 1, 1}, {2, 2, 3, 4}};
  for (uint32_t Socket = 0; Socket < 2; Socket++) {
    for (uint32_t ComplexDie = 0; ComplexDie < 4; ComplexDie++) {
      Description.NumaDomains.push_back({Socket, 0, ComplexDie, 0, Domains[Socket][ComplexDie]});
    }
  }
  for (uint64_t Call : {1, 2}) {
    Description.Faults.push_back({"fabric_numa", "GetProximityDomain(1,0,3,0)", Call, 0x8000000000000007ULL});
  }
  return Description;
}

// The domain each complex should carry: the machine's, the socket for complexes it does not name,
// and the complex before it for one whose query fails.
std::vector<uint32_t> ExpectedDomains(const Machine &Description, const BootTables &Tables) {
  std::vector<uint32_t> Domains;
  uint32_t Held = 0;
  for (const auto &[Position, ApicId] : Tables.Processors) {
    const std::string Query = "GetProximityDomain(" + std::to_string(Position.Socket) + "," +
                              std::to_string(Position.Die) + "," + std::to_string(Position.ComplexDie) + "," +
                              std::to_string(Position.Complex) + ")";
    bool Fails = false;
    for (const InjectedFault &Fault : Description.Faults) Fails = Fails || Fault.Query == Query;
    if (!Fails) {
      Held = Position.Socket;
      for (const ComplexDomain &Domain : Description.NumaDomains) {
        if (Domain.Socket == Position.Socket && Domain.Die == Position.Die &&
            Domain.ComplexDie == Position.ComplexDie && Domain.Complex == Position.Complex) {
          Held = Domain.Domain;
        }
      }
    }
    Domains.push_back(Held);
  }
  return Domains;
}

std::string ReadText(const std::filesystem::path &Path) {
  std::ifstream File(Path, std::ios::binary);
  std::stringstream Text;
  Text << File.rdbuf();
  return Text.str();
}

class AffinityTablesTool : public ::testing::TestWithParam<const char *> {
 protected:
  void SetUp() override {
    const std::optional<std::filesystem::path> Found = FindIasl();
    ASSERT_TRUE(Found) << "iasl is needed for these checks; scripts/setup installs acpica-tools";
    Iasl = *Found;
    Dir = std::filesystem::temp_directory_path() /
          ("ccx-affinity-" + std::string(GetParam()) + "-" + std::to_string(getpid()));
    std::filesystem::remove_all(Dir);
    std::filesystem::create_directories(Dir);
    Description = std::string(GetParam()) == "default" ? DefaultMachine() : TwoSocketX2Apic();
    Tables = BuildAfterBoot(Description);
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }

  // Writes the bytes as Name.dat, disassembles them and answers iasl's messages and its listing.
  std::pair<std::string, std::string> Disassemble(const std::string &Name, const std::vector<uint8_t> &Bytes) {
    std::ofstream(Dir / (Name + ".dat"), std::ios::binary)
        .write(reinterpret_cast<const char *>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
    const IaslRun Run = RunIasl(Iasl, {"-d", Name + ".dat"}, Dir);
    EXPECT_EQ(Run.ExitCode, 0) << Run.Output;
    return {Run.Output, ReadText(Dir / (Name + ".dsl"))};
  }

  std::filesystem::path Iasl;
  std::filesystem::path Dir;
  Machine Description;
  BootTables Tables;
};

TEST_P(AffinityTablesTool, SratDisassemblesToOneEntryPerProcessorWithItsDomain) {
  ASSERT_TRUE(Tables.Srat.ServiceFound);
  EXPECT_TRUE(Tables.Srat.Errors.empty()) << Tables.Srat.Errors.front();
  const auto [Messages, Listing] = Disassemble("SRAT", Tables.Srat.Table);
  for (const char *Word : {"checksum", "Unknown", "Warning", "Error"}) {
    EXPECT_EQ(Messages.find(Word), std::string::npos) << Word << " in:\n" << Messages;
  }
  EXPECT_EQ(Listing.find("Incorrect checksum"), std::string::npos);
  EXPECT_EQ(Listing.find("Unknown"), std::string::npos);

  // Each processor subtable: its APIC ID and its domain, in table order.
  const bool X2Apic = Description.Pcd.count(kPcdApicMode) != 0 && Description.Pcd.at(kPcdApicMode) == 2;
  std::vector<std::pair<uint32_t, uint32_t>> Shown;
  const std::regex Local(R"(Subtable Type : 00 \[Processor Local APIC/SAPIC Affinity\][^\[]*\n)"
                         R"([\s\S]*?Proximity Domain Low\(8\) : ([0-9A-F]+)[\s\S]*?Apic ID : ([0-9A-F]+))"
                         R"([\s\S]*?Proximity Domain High\(24\) : ([0-9A-F]+))");
  const std::regex X2(R"(Subtable Type : 02 \[Processor Local x2APIC Affinity\][\s\S]*?)"
                      R"(Proximity Domain : ([0-9A-F]+)[\s\S]*?Apic ID : ([0-9A-F]+))");
  if (X2Apic) {
    for (auto It = std::sregex_iterator(Listing.begin(), Listing.end(), X2); It != std::sregex_iterator(); ++It) {
      Shown.push_back({std::stoul((*It)[2], nullptr, 16), std::stoul((*It)[1], nullptr, 16)});
    }
  } else {
    for (auto It = std::sregex_iterator(Listing.begin(), Listing.end(), Local); It != std::sregex_iterator(); ++It) {
      const uint32_t Domain = std::stoul((*It)[1], nullptr, 16) | std::stoul((*It)[3], nullptr, 16) << 8;
      Shown.push_back({std::stoul((*It)[2], nullptr, 16), Domain});
    }
  }
  const std::vector<uint32_t> Domains = ExpectedDomains(Description, Tables);
  std::vector<std::pair<uint32_t, uint32_t>> Expected;
  for (size_t Index = 0; Index < Tables.Processors.size(); Index++) {
    const uint32_t ApicId = Tables.Processors[Index].second;
    if (X2Apic || ApicId < 255) Expected.push_back({ApicId, Domains[Index]});
  }
  EXPECT_EQ(Shown, Expected);
  EXPECT_NE(Listing.find("[Memory Affinity]"), std::string::npos);
}

TEST_P(AffinityTablesTool, AffinityTableCountsItsEntriesAndRunsOfDomains) {
  ASSERT_TRUE(Tables.Affinity.ServiceFound);
  EXPECT_TRUE(Tables.Affinity.Errors.empty()) << Tables.Affinity.Errors.front();
  EXPECT_EQ(Tables.Affinity.ComputeUnitStatus, EFI_SUCCESS);
  // One compute unit per run of equal domains in walk order.
  const std::vector<uint32_t> Domains = ExpectedDomains(Description, Tables);
  std::vector<std::pair<uint32_t, uint32_t>> Runs;
  for (size_t Index = 0; Index < Domains.size(); Index++) {
    if (Runs.empty() || Runs.back().first != Domains[Index]) Runs.push_back({Domains[Index], 0});
    Runs.back().second++;
  }
  std::vector<std::pair<uint32_t, uint32_t>> Units;
  for (const AffinityComputeUnit &Unit : Tables.Affinity.ComputeUnits) Units.push_back({Unit.Domain, Unit.Threads});
  EXPECT_EQ(Units, Runs);
  // Level-1 data and instruction and level 2 shared by two threads, level 3 by a complex of 16;
  // four TLB entries per pair of threads.
  const size_t Threads = Tables.Processors.size();
  EXPECT_EQ(Tables.Affinity.CacheEntries, 3 * Threads / 2 + Threads / 16);
  EXPECT_EQ(Tables.Affinity.TlbEntries, 4 * Threads / 2);
  // The signature is this platform's own, so iasl shows the header only; its checksum must hold.
  const auto [Messages, Listing] = Disassemble("QRAT", Tables.Affinity.Table);
  EXPECT_EQ(Messages.find("checksum"), std::string::npos) << Messages;
  EXPECT_EQ(Listing.find("Incorrect checksum"), std::string::npos);
}

TEST_P(AffinityTablesTool, CpcSsdtCompilesCleanlyAndShowsEveryProcessor) {
  ASSERT_TRUE(Tables.Cpc.ServiceFound);
  EXPECT_TRUE(Tables.Cpc.Errors.empty()) << Tables.Cpc.Errors.front();
  std::ofstream(Dir / "SSDT-CPC.dsl") << Tables.Cpc.Asl;
  const IaslRun Compile = CompileAsl(Iasl, Dir, "SSDT-CPC");
  ASSERT_EQ(Compile.ExitCode, 0) << Compile.Output;
  EXPECT_NE(Compile.Output.find("0 Errors, 0 Warnings, 0 Remarks"), std::string::npos) << Compile.Output;

  std::filesystem::rename(Dir / "SSDT-CPC.dsl", Dir / "SSDT-CPC.source");
  const IaslRun Disassembly = RunIasl(Iasl, {"-d", "SSDT-CPC.aml"}, Dir);
  ASSERT_EQ(Disassembly.ExitCode, 0) << Disassembly.Output;
  const std::string Listing = ReadText(Dir / "SSDT-CPC.dsl");
  const auto Count = [&Listing](const std::string &Text) {
    size_t Found = 0;
    for (size_t At = Listing.find(Text); At != std::string::npos; At = Listing.find(Text, At + 1)) Found++;
    return Found;
  };
  const size_t Threads = Tables.Processors.size();
  EXPECT_EQ(Count("Name (_HID, \"ACPI0007\""), Threads);
  EXPECT_EQ(Count("Name (_CPC, Package (0x17)"), Threads);
  EXPECT_EQ(Count("Register (FFixedHW"), 13 * Threads);
  EXPECT_EQ(Count("Register (SystemMemory"), 5 * Threads);
  EXPECT_EQ(Count("0x00000000C00102B3, // Address"), 4 * Threads);
  // The machine's builder enables autonomous selection and overrides both frequencies.
  EXPECT_EQ(Tables.Cpc.CallbackValues, (std::vector<uint32_t>{1, 400, 3000}));
  EXPECT_EQ(Count("0x0190, \n"), Threads);
  EXPECT_EQ(Count("0x0BB8\n"), Threads);
}

INSTANTIATE_TEST_SUITE_P(Machines, AffinityTablesTool, ::testing::Values("default", "two_socket_x2apic"));

}  // namespace
}  // namespace sim
