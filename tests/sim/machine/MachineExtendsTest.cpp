// Descriptions that extend others: how a file is applied over its base, chains of bases, where
// relative bases are looked for, and which file an error in the merged description names.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "interfaces/PlatformConfig.h"
#include "sim/machine/JsonFields.h"
#include "sim/machine/Machine.h"
#include "sim/machine/MachineMerge.h"

namespace sim {
namespace {

// A directory of description files that lives as long as the test.
class MachineFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir_ = std::filesystem::temp_directory_path() / ("ccx-extends-" + std::to_string(getpid()) + "-" +
                                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(Dir_);
  }
  void TearDown() override { std::filesystem::remove_all(Dir_); }

  // Writes Text to Name (which may name a subdirectory) and returns the file's path.
  std::string Write(const std::string &Name, const std::string &Text) {
    const std::filesystem::path File = Dir_ / Name;
    std::filesystem::create_directories(File.parent_path());
    std::ofstream(File) << Text;
    return File.string();
  }

  // The message LoadMachineFile refuses Path with; empty when it loads.
  static std::string Refusal(const std::string &Path) {
    try {
      LoadMachineFile(Path);
    } catch (const MachineError &Error) {
      return Error.what();
    }
    return "";
  }

  std::filesystem::path Dir_;
};

TEST(ExtendsDefault, MembersPatchNullRemovesAndArraysReplaceWhole) {
  const Machine Default = DefaultMachine();
  ASSERT_GT(Default.Options.Values.size(), 1u);
  ASSERT_FALSE(Default.Cppc.Overrides.empty());
  const Machine M = ParseMachine(R"({"extends": "default", "name": "two", "topology": {"sockets": 2}, "cppc": null,
      "options": {"values": [{"id": "0xD030", "size": 2, "value": 7}]}})",
                                 "two.json");
  EXPECT_EQ(M.Name, "two");
  EXPECT_EQ(M.Description, Default.Description);
  // The other topology counts are the default's.
  EXPECT_EQ(M.Shape.Walk().size(), 2 * Default.Shape.Walk().size());
  EXPECT_TRUE(M.Cppc.Overrides.empty());
  EXPECT_FALSE(M.Cppc.AutonomousSelection.has_value());
  ASSERT_EQ(M.Options.Values.size(), 1u);
  EXPECT_EQ(M.Options.Values[0].Id, 0xD030);
  EXPECT_EQ(M.Processors.MsrResetValues, Default.Processors.MsrResetValues);
  EXPECT_EQ(M.Pcd, Default.Pcd);
}

TEST_F(MachineFiles, BasesChainAndRelativePathsAreTheNamingFilesOwn) {
  // top.json -> variants/mid.json -> ../base.json (beside top.json, not in the working directory).
  Write("base.json",
        R"({"extends": "default", "name": "base", "topology": {"sockets": 2}, "pcd": {"PcdCcxSnpMode": 0}})");
  Write("variants/mid.json", R"({"extends": "../base.json", "name": "mid", "topology": {"threads_per_core": 1}})");
  const std::string Top =
      Write("top.json", R"({"extends": "variants/mid.json", "name": "top", "pcd": {"PcdCcxSnpMode": 1}})");
  const Machine M = LoadMachineFile(Top);
  EXPECT_EQ(M.Name, "top");
  EXPECT_EQ(M.Source, Top);
  EXPECT_EQ(M.Shape.Count(TopologyLevel::Socket), 2u);
  EXPECT_EQ(M.Shape.Walk().size(), DefaultMachine().Shape.Walk().size());  // twice the sockets, half the threads
  EXPECT_EQ(M.Pcd.at(PcdCcxSnpMode), 1u);
  EXPECT_EQ(M.Pcd.at(PcdCcxVmplEnable), DefaultMachine().Pcd.at(PcdCcxVmplEnable));

  const nlohmann::json Printed = nlohmann::json::parse(MergedMachineText(Top));
  EXPECT_FALSE(Printed.contains("extends"));
  EXPECT_EQ(Printed["topology"]["sockets"], 2);
  EXPECT_EQ(Printed["topology"]["threads_per_core"], 1);
  EXPECT_EQ(Printed["pcd"]["PcdCcxSnpMode"], 1);
}

TEST_F(MachineFiles, PrintedDescriptionKeepsTheOrderOfTheFiles) {
  const std::string Top = Write("top.json", R"({"extends": "default", "topology": {"sockets": 2}})");
  const std::string Printed = MergedMachineText(Top);
  EXPECT_LT(Printed.find("\"name\""), Printed.find("\"topology\""));
  EXPECT_LT(Printed.find("\"sockets\": 2"), Printed.find("\"dies_per_socket\""));
}

TEST_F(MachineFiles, ACircleOfBasesNamesEveryFileInIt) {
  Write("a.json", R"({"extends": "sub/b.json", "name": "a"})");
  Write("sub/b.json", R"({"extends": "../a.json"})");
  const std::string Top = Write("top.json", R"({"extends": "a.json"})");
  const std::string Message = Refusal(Top);
  const std::string A = (Dir_ / "a.json").string(), B = (Dir_ / "sub/b.json").string();
  EXPECT_NE(
      Message.find(B + ": extends: the descriptions extend each other in a circle: " + A + " -> " + B + " -> " + A),
      std::string::npos)
      << Message;
  EXPECT_EQ(Message.find("top.json ->"), std::string::npos) << "top.json is not in the circle: " << Message;

  const std::string Self = Write("self.json", R"({"extends": "./self.json"})");
  EXPECT_NE(Refusal(Self).find("in a circle: " + Self + " -> " + Self), std::string::npos) << Refusal(Self);
}

// An error in the merged description names the file that set the field, base or derived.
TEST_F(MachineFiles, ErrorsNameTheFileThatSetTheField) {
  const std::string Base = Write("base.json", R"({"extends": "default", "topology": {"threads_per_core": 3}})");
  const std::string FromBase = Write("from-base.json", R"({"extends": "base.json", "name": "x"})");
  EXPECT_EQ(
      Refusal(FromBase).rfind(Base + ": topology.threads_per_core: expected an unsigned number from 1 to 2, got 3", 0),
      0u)
      << Refusal(FromBase);

  const std::string Fixed = Write("fixed.json", R"({"extends": "base.json", "topology": {"threads_per_core": 1}})");
  EXPECT_EQ(Refusal(Fixed), "");

  const std::string Derived = Write("derived.json", R"({"extends": "fixed.json", "memory": {"dram": []}})");
  EXPECT_EQ(Refusal(Derived).rfind(Derived + ": memory.dram: a machine needs at least one DRAM range", 0), 0u)
      << Refusal(Derived);

  // The default set the topology; a derived file changed a member of it.
  const std::string Folding =
      Write("folding.json", R"({"extends": "default", "topology": {"folded_complexes": true}})");
  EXPECT_EQ(Refusal(Folding).rfind(Folding + ": topology.folded_complexes: folded complexes need", 0), 0u)
      << Refusal(Folding);
  const std::string Removed = Write("removed.json", R"({"extends": "default", "topology": {"sockets": null}})");
  EXPECT_EQ(Refusal(Removed).rfind(Removed + " and built-in default machine: topology: missing field \"sockets\"", 0),
            0u)
      << Refusal(Removed);
}

struct BadBase {
  const char *Why;
  const char *Text;
  const char *Expected;  // the message after "<file>: "
};

class BadExtends : public MachineFiles, public ::testing::WithParamInterface<BadBase> {};

TEST_P(BadExtends, IsRefusedNamingTheFileAndTheValue) {
  const std::string File = Write("bad.json", GetParam().Text);
  EXPECT_EQ(Refusal(File), File + ": " + GetParam().Expected) << GetParam().Why;
}

INSTANTIATE_TEST_SUITE_P(
    Errors, BadExtends,
    ::testing::Values(
        BadBase{"not a string", R"({"extends": 3})",
                "extends: expected \"default\" or the path of a description relative to this one, got 3"},
        BadBase{"null", R"({"extends": null})",
                "extends: expected \"default\" or the path of a description relative to this one, got null"},
        BadBase{"empty", R"({"extends": ""})",
                "extends: expected \"default\" or the path of a description relative to this one, got \"\""},
        BadBase{"not nested", R"({"extends": "default", "topology": {"extends": "default"}})",
                "topology.extends: unknown field \"extends\" (known here: sockets dies_per_socket complex_dies_per_die "
                "complexes_per_complex_die cores_per_complex threads_per_core core_field_padding overrides "
                "folded_complexes)"}));

TEST_F(MachineFiles, AMissingBaseNamesTheValueAndWhereItWasLookedFor) {
  const std::string File = Write("sub/top.json", R"({"extends": "../nowhere.json"})");
  EXPECT_EQ(Refusal(File), File + ": extends: cannot open the description \"../nowhere.json\": " +
                               (Dir_ / "nowhere.json").string() +
                               " (machine description): cannot be read: No such file or directory");
  const std::string Directory = Write("dir.json", R"({"extends": "sub"})");
  EXPECT_NE(Refusal(Directory).find("cannot open the description \"sub\""), std::string::npos) << Refusal(Directory);
}

// Each level of the chain is a level of recursion, so the chain is held to 32 files.
TEST_F(MachineFiles, AChainOfMoreThan32FilesIsRefused) {
  // c1.json -> c2.json -> ... -> c32.json -> default.
  for (int Index = 1; Index <= 32; Index++) {
    Write("c" + std::to_string(Index) + ".json",
          R"({"extends": ")" + (Index < 32 ? "c" + std::to_string(Index + 1) + ".json" : std::string("default")) +
              R"("})");
  }
  EXPECT_EQ(Refusal((Dir_ / "c1.json").string()), "");
  const std::string Top = Write("c0.json", R"({"extends": "c1.json"})");
  EXPECT_EQ(Refusal(Top), (Dir_ / "c31.json").string() +
                              ": extends: \"c32.json\" would make a chain of more than 32 description files, "
                              "starting at " + Top);
}

// Whatever is not a regular file is refused before a byte is read: a FIFO with no writer would
// block the reader, /dev/zero would fill memory.
TEST_F(MachineFiles, AFifoADeviceOrAFolderIsRefusedAtOnce) {
  const std::string Fifo = (Dir_ / "fifo.json").string();
  ASSERT_EQ(mkfifo(Fifo.c_str(), 0600), 0);
  EXPECT_EQ(Refusal(Fifo), Fifo + " (machine description): is a FIFO, not a regular file");
  EXPECT_EQ(Refusal("/dev/zero"), "/dev/zero (machine description): is a character device, not a regular file");
  EXPECT_EQ(Refusal(Dir_.string()), Dir_.string() + " (machine description): is a folder, not a regular file");
  const std::string Top = Write("top.json", R"({"extends": "fifo.json"})");
  EXPECT_EQ(Refusal(Top), Top + ": extends: cannot open the description \"fifo.json\": " + Fifo +
                              " (machine description): is a FIFO, not a regular file");
}

// The merge indexes each object once instead of searching it for every member; what it makes is
// what the library's merge patch makes, member order included.
TEST_F(MachineFiles, TheMergeIsTheLibrarysMergePatch) {
  const char *Patch = R"({"name": "patched", "topology": {"sockets": 2, "threads_per_core": null},
      "msrs": {"0xC0010064": "0x1", "0x00000200": null, "0x10": "0x2"}, "cppc": null,
      "numa_domains": [{"domain": 1}], "soc": {"smt": false, "nothing": null}})";
  Write("base.json", DefaultMachineText());
  const std::string Top = Write("top.json", R"({"extends": "base.json", )" + std::string(Patch + 1));
  nlohmann::ordered_json Expected = nlohmann::ordered_json::parse(DefaultMachineText());
  Expected.merge_patch(nlohmann::ordered_json::parse(Patch));
  // Not a description that loads (threads_per_core is gone), so merged without the checks.
  EXPECT_EQ(MergeDescriptionFile<nlohmann::ordered_json>(Top).Document.dump(), Expected.dump());
}

TEST_F(MachineFiles, ADescriptionFromMemoryExtendsFilesOnlyWithABaseDirectory) {
  Write("base.json", R"({"extends": "default", "name": "base", "topology": {"sockets": 2}})");
  const std::string Text = R"({"extends": "base.json", "name": "in memory"})";
  try {
    ParseMachine(Text, "fuzz input");
    FAIL() << "a description from memory read a file";
  } catch (const MachineError &Error) {
    EXPECT_STREQ(Error.what(),
                 "fuzz input: extends: \"base.json\" names a file, and a description read from memory "
                 "may only extend \"default\"");
  }
  const Machine M = ParseMachine(Text, "in memory", Dir_);
  EXPECT_EQ(M.Name, "in memory");
  EXPECT_EQ(M.Shape.Count(TopologyLevel::Socket), 2u);
}

}  // namespace
}  // namespace sim
