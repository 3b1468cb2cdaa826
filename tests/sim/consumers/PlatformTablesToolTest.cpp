// The PCCT, HEST and SMBIOS tables built after whole boots, read back by the real tools: `iasl -d`
// for the ACPI tables and Debian's `dmidecode --from-dump` for the SMBIOS dump. The figures the
// tools print must be the machine's; a checksum complaint or an invalid length fails the test.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "driver/ImageDescriptor.h"
#include "sim/consumers/PlatformTables.h"
#include "sim/platform/BootRunner.h"

namespace sim {
namespace {

// The tools' output (stdout and stderr together); empty when the tool can't be started.
std::string RunTool(const std::string &Command) {
  std::string Output;
  FILE *Pipe = popen((Command + " 2>&1").c_str(), "r");
  if (Pipe == nullptr) return Output;
  char Buffer[4096];
  size_t Read = 0;
  while ((Read = fread(Buffer, 1, sizeof(Buffer), Pipe)) > 0) Output.append(Buffer, Read);
  pclose(Pipe);
  return Output;
}

bool ToolPresent(const std::string &Tool) { return RunTool("command -v " + Tool).find(Tool) != std::string::npos; }

void Write(const std::filesystem::path &Path, const std::vector<uint8_t> &Bytes) {
  std::ofstream File(Path, std::ios::binary);
  File.write(reinterpret_cast<const char *>(Bytes.data()), std::streamsize(Bytes.size()));
}

std::string ReadText(const std::filesystem::path &Path) {
  std::ifstream File(Path);
  std::ostringstream Text;
  Text << File.rdbuf();
  return Text.str();
}

// The value iasl prints after "<Field> : " on the first line naming the field at or after From.
std::string IaslField(const std::string &Listing, const std::string &Field, size_t From = 0) {
  const size_t At = Listing.find(Field + " : ", From);
  if (At == std::string::npos) return "";
  const size_t Start = At + Field.size() + 3;
  return Listing.substr(Start, Listing.find('\n', Start) - Start);
}

size_t Occurrences(const std::string &Text, const std::string &What) {
  size_t Count = 0;
  for (size_t At = Text.find(What); At != std::string::npos; At = Text.find(What, At + 1)) Count++;
  return Count;
}

// dmidecode's structures by handle: each is its "Name: value" lines.
std::map<std::string, std::map<std::string, std::string>> DmiStructures(const std::string &Output) {
  std::map<std::string, std::map<std::string, std::string>> Structures;
  std::istringstream Lines(Output);
  std::string Line;
  std::string Handle;
  while (std::getline(Lines, Line)) {
    if (Line.rfind("Handle 0x", 0) == 0) {
      Handle = Line.substr(7, 6);
      continue;
    }
    const size_t Colon = Line.find(": ");
    if (Handle.empty() || Line.empty() || Line[0] != '\t' || Colon == std::string::npos) continue;
    Structures[Handle][Line.substr(1, Colon - 1)] = Line.substr(Colon + 2);
  }
  return Structures;
}

std::string Hex16(uint64_t Value) {
  char Text[20];
  std::snprintf(Text, sizeof(Text), "%016llX", static_cast<unsigned long long>(Value));
  return Text;
}

// What the machine's description says each socket shows.
struct MachineFigures {
  const char *Name;
  const char *File;  // under machines/; null for the built-in default machine
  unsigned Sockets;
  const char *Cores;
  const char *Threads;
  const char *CacheSizes[3];
};

struct Built {
  PcctTable Pcct;
  HestTable Hest;
  SmbiosTables Smbios;
  std::vector<RegisteredRegion> Regions;
  std::vector<std::map<uint32_t, uint64_t>> MtrrsPerProcessor;
  // The first word of the registered region, read while the machine's memory is there.
  uint32_t RegionSignature = 0;
};

class PlatformTablesByTools : public ::testing::TestWithParam<MachineFigures> {
 protected:
  void SetUp() override {
    for (const char *Tool : {"iasl", "dmidecode"}) {
      if (!ToolPresent(Tool)) GTEST_FAIL() << Tool << " is not installed (scripts/setup installs it)";
    }
    const MachineFigures &Figures = GetParam();
    const Machine Description =
        Figures.File == nullptr ? DefaultMachine() : LoadMachineFile(std::string(CCX_MACHINES_DIR) + "/" + Figures.File);
    BootOptions Options;
    Options.AfterBoot = [this](Platform &Machine) {
      Tables.Pcct = BuildPcct(Machine);
      Tables.Hest = BuildHest(Machine);
      Tables.Smbios = BuildSmbios(Machine);
      Tables.Regions = Machine.Regions().Regions();
      if (!Tables.Regions.empty() && Machine.Core().Memory().IsMapped(Tables.Regions[0].Base, 4)) {
        Tables.RegionSignature = *reinterpret_cast<const uint32_t *>(static_cast<uintptr_t>(Tables.Regions[0].Base));
      }
      for (size_t Index = 0; Index < Machine.Processors().Count(); Index++) {
        std::map<uint32_t, uint64_t> Mtrrs;
        for (uint32_t Msr = 0x200; Msr < 0x210; Msr++) Mtrrs[Msr] = Machine.Processors().At(Index).PeekMsr(Msr).value_or(0);
        Tables.MtrrsPerProcessor.push_back(Mtrrs);
      }
    };
    RunBoot(Description, CcxImageDescriptor, Options);
    Dir = std::filesystem::temp_directory_path() /
          ("ccx-tables-" + std::string(Figures.Name) + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(Dir);
  }
  void TearDown() override {
    std::error_code Error;
    std::filesystem::remove_all(Dir, Error);
  }
  // Disassembles a table and gives the listing; the tool's own messages must hold no complaint.
  std::string Disassemble(const std::string &Name, const std::vector<uint8_t> &Bytes) {
    Write(Dir / (Name + ".dat"), Bytes);
    const std::string Messages = RunTool("cd '" + Dir.string() + "' && iasl -d " + Name + ".dat");
    const std::string Listing = ReadText(Dir / (Name + ".dsl"));
    for (const std::string &Text : {Messages, Listing}) {
      EXPECT_EQ(Text.find("Incorrect checksum"), std::string::npos) << Text;
      EXPECT_EQ(Text.find("Invalid"), std::string::npos) << Text;
      EXPECT_EQ(Text.find("Warning"), std::string::npos) << Text;
    }
    return Listing;
  }

  Built Tables;
  std::filesystem::path Dir;
};

TEST_P(PlatformTablesByTools, IaslShowsTheSubspaceTheDriverSetUp) {
  ASSERT_FALSE(Tables.Pcct.Bytes.empty()) << "status " << Tables.Pcct.Status;
  ASSERT_EQ(Tables.Regions.size(), 1u);
  const uint64_t Base = Tables.Regions[0].Base;
  const std::string Listing = Disassemble("PCCT", Tables.Pcct.Bytes);
  EXPECT_EQ(IaslField(Listing, "Subtable Type"), "00 [Generic Communications Subspace]");
  EXPECT_EQ(IaslField(Listing, "Base Address"), Hex16(Base));
  EXPECT_EQ(IaslField(Listing, "Address Length"), "0000000000018000");
  const size_t Doorbell = Listing.find("Doorbell Register");
  EXPECT_EQ(IaslField(Listing, "Address", Doorbell), "00000000FEDC0A00");
  EXPECT_EQ(IaslField(Listing, "Encoded Access Width", Doorbell), "04 [QWord Access:64]");
  EXPECT_EQ(IaslField(Listing, "Preserve Mask"), "FFFFFFFF00000000");
  EXPECT_EQ(IaslField(Listing, "Write Mask"), "0000000000000001");

  // Variable MTRR 0 is the machine's; MTRR 1 makes the region uncacheable on every processor.
  for (size_t Index = 0; Index < Tables.MtrrsPerProcessor.size(); Index++) {
    const std::map<uint32_t, uint64_t> &Mtrrs = Tables.MtrrsPerProcessor[Index];
    EXPECT_EQ(Mtrrs.at(0x202), Base) << "processor " << Index;
    EXPECT_EQ(Mtrrs.at(0x203), 0xFFFFFFFF0800ULL) << "processor " << Index;
    EXPECT_EQ(Mtrrs.at(0x201), 0xFFFF80000800ULL) << "processor " << Index;
  }
  EXPECT_EQ(Tables.RegionSignature, 0x50434300u);
}

TEST_P(PlatformTablesByTools, IaslShowsTwentyEightBanks) {
  ASSERT_FALSE(Tables.Hest.Bytes.empty());
  const std::string Listing = Disassemble("HEST", Tables.Hest.Bytes);
  EXPECT_EQ(IaslField(Listing, "Num Hardware Banks"), "1C");
  EXPECT_EQ(IaslField(Listing, "Global Control Data"), "000000000FFFFFEF");
  EXPECT_EQ(Occurrences(Listing, "Bank Number : "), 28u);
  for (unsigned Bank = 0; Bank < 28; Bank++) {
    char Number[8];
    std::snprintf(Number, sizeof(Number), "%02X", Bank);
    const size_t At = Listing.find(std::string("Bank Number : ") + Number);
    ASSERT_NE(At, std::string::npos) << Bank;
    char Msr[12];
    std::snprintf(Msr, sizeof(Msr), "%08X", 0xC0002000 + 0x10 * Bank);
    EXPECT_EQ(IaslField(Listing, "Control Register", At), Msr);
    std::snprintf(Msr, sizeof(Msr), "%08X", 0xC0002003 + 0x10 * Bank);
    EXPECT_EQ(IaslField(Listing, "Misc Register", At), Msr);
    EXPECT_EQ(IaslField(Listing, "Control Data", At), Bank == 4 ? "0000000000000000" : "FFFFFFFFFFFFFFFF");
  }
}

TEST_P(PlatformTablesByTools, DmidecodeShowsEverySocketsProcessorAndCaches) {
  const MachineFigures &Figures = GetParam();
  ASSERT_FALSE(Tables.Smbios.Dump.empty());
  Write(Dir / "smbios.bin", Tables.Smbios.Dump);
  const std::string Output = RunTool("dmidecode --from-dump '" + (Dir / "smbios.bin").string() + "'");
  EXPECT_EQ(Output.find("Checksum"), std::string::npos) << Output;
  EXPECT_EQ(Output.find("Invalid entry length"), std::string::npos) << Output;
  EXPECT_NE(Output.find("SMBIOS 3.3.0 present."), std::string::npos) << Output;
  const auto Structures = DmiStructures(Output);
  // A processor and three caches a socket, then the end of the table.
  EXPECT_EQ(Structures.size(), Figures.Sockets * 4) << Output;
  EXPECT_EQ(Occurrences(Output, "DMI type"), Figures.Sockets * 4 + 1) << Output;
  EXPECT_NE(Output.find("Handle 0xFEFF, DMI type 127, 4 bytes\nEnd Of Table"), std::string::npos) << Output;

  const char *Associativity[] = {"8-way Set-associative", "8-way Set-associative", "16-way Set-associative"};
  for (unsigned Socket = 0; Socket < Figures.Sockets; Socket++) {
    char Handle[8];
    std::snprintf(Handle, sizeof(Handle), "0x%04X", 0x400 + Socket);
    ASSERT_TRUE(Structures.count(Handle)) << Output;
    const auto &Processor = Structures.at(Handle);
    EXPECT_EQ(Processor.at("Socket Designation"), "P" + std::to_string(Socket));
    EXPECT_EQ(Processor.at("Type"), "Central Processor");
    EXPECT_EQ(Processor.at("Family"), "Zen");
    EXPECT_EQ(Processor.at("Manufacturer"), "Qorvex, Inc.");
    EXPECT_EQ(Processor.at("Version"), "Qorvex Rell 64-Core Processor");
    // P-state 0: FID 0x90, divisor 8, VID 0x48, that is (0x48 + 49) x 5 mV = 0.605 V.
    EXPECT_EQ(Processor.at("Voltage"), "0.6 V");
    EXPECT_EQ(Processor.at("External Clock"), "100 MHz");
    EXPECT_EQ(Processor.at("Max Speed"), "4500 MHz");  // the SOC service's 0xB4 x 25 MHz
    EXPECT_EQ(Processor.at("Current Speed"), "3600 MHz");
    EXPECT_EQ(Processor.at("Status"), "Populated, Enabled");
    EXPECT_EQ(Processor.at("Core Count"), Figures.Cores);
    EXPECT_EQ(Processor.at("Core Enabled"), Figures.Cores);
    EXPECT_EQ(Processor.at("Thread Count"), Figures.Threads);
    for (unsigned Level = 0; Level < 3; Level++) {
      char CacheHandle[8];
      std::snprintf(CacheHandle, sizeof(CacheHandle), "0x%04X", 0x700 + Socket * 3 + Level);
      EXPECT_EQ(Processor.at("L" + std::to_string(Level + 1) + " Cache Handle"), CacheHandle);
      ASSERT_TRUE(Structures.count(CacheHandle)) << Output;
      const auto &Cache = Structures.at(CacheHandle);
      EXPECT_EQ(Cache.at("Socket Designation"), "L" + std::to_string(Level + 1) + " - Cache");
      EXPECT_EQ(Cache.at("Configuration"), "Enabled, Not Socketed, Level " + std::to_string(Level + 1));
      EXPECT_EQ(Cache.at("Installed Size"), Figures.CacheSizes[Level]) << "socket " << Socket << " level " << Level + 1;
      EXPECT_EQ(Cache.at("Maximum Size"), Figures.CacheSizes[Level]);
      EXPECT_EQ(Cache.at("Associativity"), Associativity[Level]);
      EXPECT_EQ(Cache.at("Error Correction Type"), "Multi-bit ECC");
      EXPECT_EQ(Cache.at("System Type"), "Unified");
    }
  }
}

// The default machine: 8 complexes of 8 cores with 2 threads, 32 KiB level-1 caches and 1 MiB of
// level 2 per core, 32 MiB of level 3 per complex. The two-socket machine: 2 such complexes a
// socket, whose level-3 sum over both sockets is shared out between them.
INSTANTIATE_TEST_SUITE_P(Machines, PlatformTablesByTools,
                         ::testing::Values(MachineFigures{"Default", nullptr, 1, "64", "128", {"4 MB", "64 MB", "256 MB"}},
                                           MachineFigures{"TwoSocket", "two-socket.json", 2, "16", "32",
                                                          {"1 MB", "16 MB", "64 MB"}}),
                         [](const ::testing::TestParamInfo<MachineFigures> &Info) { return std::string(Info.param.Name); });

}  // namespace
}  // namespace sim
