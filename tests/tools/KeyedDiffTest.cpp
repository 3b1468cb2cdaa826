// ccxsim diff on arrays of records with a key, on ignore files and presets.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tools/DiffCommand.h"
#include "tools/IgnoreFile.h"
#include "tools/ReportDiff.h"

namespace ccxsim {
namespace {

using nlohmann::json;

// Each difference as the command prints it, with the section it counts under.
std::vector<std::string> Diff(const std::string &Left, const std::string &Right,
                              const std::vector<std::string> &Ignore = {}) {
  std::vector<PathPattern> Patterns;
  for (const std::string &Text : Ignore) Patterns.push_back(PathPattern::Parse(Text));
  std::vector<std::string> Lines;
  for (const ReportDifference &Difference : DiffReports(json::parse(Left), json::parse(Right), Patterns)) {
    switch (Difference.Kind) {
      case ReportDifference::OnlyInLeft: Lines.push_back("only in A: " + Difference.Path); break;
      case ReportDifference::OnlyInRight: Lines.push_back("only in B: " + Difference.Path); break;
      case ReportDifference::Changed:
        Lines.push_back(Difference.Path + ": " + Difference.Left + " != " + Difference.Right);
    }
    Lines.back() += "  <" + Difference.Section + ">";
  }
  return Lines;
}

std::string Boot(const std::string &Members) { return R"({"boots": [{)" + Members + "}]}"; }

// The default machine's and a late-services machine's protocols: the same ones installed in
// another order, so every handle has another number, and the driver's several on one handle.
constexpr const char *kInstalledEarly = R"("installed": [
    {"handle": "handle 1", "protocol": "gPcdProtocolGuid"}, {"handle": "handle 2", "protocol": "gEfiMpServiceProtocolGuid"},
    {"handle": "handle 3", "protocol": "gEfiLoadedImageProtocolGuid"}, {"handle": "handle 3", "protocol": "gCcxAcpiGuid"},
    {"handle": "handle 3", "protocol": "gCcxSratGuid"}])";
constexpr const char *kInstalledLate = R"("installed": [
    {"handle": "handle 1", "protocol": "gPcdProtocolGuid"}, {"handle": "handle 2", "protocol": "gEfiLoadedImageProtocolGuid"},
    {"handle": "handle 2", "protocol": "gCcxSratGuid"}, {"handle": "handle 2", "protocol": "gCcxAcpiGuid"},
    {"handle": "handle 3", "protocol": "gEfiMpServiceProtocolGuid"}])";

TEST(KeyedDiff, ProtocolsInAnotherOrderOnRenumberedHandlesAgree) {
  EXPECT_EQ(Diff(Boot(kInstalledEarly), Boot(kInstalledLate)), std::vector<std::string>{});
}

TEST(KeyedDiff, AProtocolOnlyOneSideHasIsOneLineNamingItsGuid) {
  const std::string WithoutMp = R"("installed": [
    {"handle": "handle 1", "protocol": "gPcdProtocolGuid"}, {"handle": "handle 2", "protocol": "gEfiLoadedImageProtocolGuid"},
    {"handle": "handle 2", "protocol": "gCcxSratGuid"}, {"handle": "handle 2", "protocol": "gCcxAcpiGuid"},
    {"handle": "handle 3", "protocol": "gQorvexHeapProtocolGuid"}])";
  EXPECT_EQ(Diff(Boot(kInstalledEarly), Boot(WithoutMp)),
            (std::vector<std::string>{
                "only in A: boots[0].installed[protocol=gEfiMpServiceProtocolGuid]  <boots[0].installed>",
                "only in B: boots[0].installed[protocol=gQorvexHeapProtocolGuid]  <boots[0].installed>"}));
}

// A handle is compared by the protocols it carries: one moved off the driver's handle differs,
// and the protocols that stay together do not.
TEST(KeyedDiff, AProtocolOnAnotherHandleThanItsCompanionsDiffers) {
  const std::string Moved = R"("installed": [
    {"handle": "handle 1", "protocol": "gPcdProtocolGuid"}, {"handle": "handle 2", "protocol": "gEfiMpServiceProtocolGuid"},
    {"handle": "handle 3", "protocol": "gEfiLoadedImageProtocolGuid"}, {"handle": "handle 3", "protocol": "gCcxAcpiGuid"},
    {"handle": "handle 4", "protocol": "gCcxSratGuid"}])";
  EXPECT_EQ(
      Diff(Boot(kInstalledEarly), Boot(Moved)),
      (std::vector<std::string>{
          R"(boots[0].installed[protocol=gCcxSratGuid].handle: "handle 3" != "handle 4"  <boots[0].installed>)"}));
}

TEST(KeyedDiff, MatchedRecordsAreComparedFieldByFieldUnderTheirKey) {
  const std::string Left = Boot(R"("msr_changes": [{"msr": "0x00000202", "after": "0x1", "processors": [0, 1, 2, 3]},
                                                   {"msr": "0xC0010015", "after": "0x2", "processors": [0, 1]}],
                                   "variables": [{"name": "A gGuid1", "data": "00"}, {"name": "A gGuid2", "data": "01"}])");
  const std::string Right = Boot(R"("msr_changes": [{"msr": "0xC0010015", "after": "0x3", "processors": [0, 1]},
                                                    {"msr": "0x00000202", "after": "0x1", "processors": [0, 2, 3, 5]}],
                                    "variables": [{"name": "A gGuid2", "data": "01"}, {"name": "A gGuid1", "data": "02"}])");
  EXPECT_EQ(Diff(Left, Right),
            (std::vector<std::string>{
                "only in A: boots[0].msr_changes[msr=0x00000202].processors[processor=1]  <boots[0].msr_changes>",
                "only in B: boots[0].msr_changes[msr=0x00000202].processors[processor=5]  <boots[0].msr_changes>",
                R"(boots[0].msr_changes[msr=0xC0010015].after: "0x2" != "0x3"  <boots[0].msr_changes>)",
                R"(boots[0].variables[name=A gGuid1].data: "00" != "02"  <boots[0].variables>)"}));
}

// Processor numbers only one side holds are one line for each run of consecutive numbers.
TEST(KeyedDiff, ProcessorsOnlyOneSideHoldsAreOneLineARun) {
  const std::string Left = Boot(R"("snp": {"agreeing_processors": [0, 1, 2, 3, 4, 5, 6, 9]})");
  const std::string Right = Boot(R"("snp": {"agreeing_processors": [0, 2, 3, 7, 8]})");
  EXPECT_EQ(Diff(Left, Right),
            (std::vector<std::string>{"only in A: boots[0].snp.agreeing_processors[processor=1]  <boots[0].snp>",
                                      "only in A: boots[0].snp.agreeing_processors[processor=4..6]  <boots[0].snp>",
                                      "only in A: boots[0].snp.agreeing_processors[processor=9]  <boots[0].snp>",
                                      "only in B: boots[0].snp.agreeing_processors[processor=7..8]  <boots[0].snp>"}));
  // An ignored processor breaks the run around it.
  EXPECT_EQ(Diff(Left, Right, {"boots[*].snp.agreeing_processors[5]"}),
            (std::vector<std::string>{"only in A: boots[0].snp.agreeing_processors[processor=1]  <boots[0].snp>",
                                      "only in A: boots[0].snp.agreeing_processors[processor=4]  <boots[0].snp>",
                                      "only in A: boots[0].snp.agreeing_processors[processor=6]  <boots[0].snp>",
                                      "only in A: boots[0].snp.agreeing_processors[processor=9]  <boots[0].snp>",
                                      "only in B: boots[0].snp.agreeing_processors[processor=7..8]  <boots[0].snp>"}));
}

// A key that occurs twice pairs its occurrences in order; an array where an element has no key
// pairs by position, as every array without a rule does.
TEST(KeyedDiff, RepeatedKeysPairInOrderAndRecordsWithoutAKeyPairByPosition) {
  const std::string Twice = R"("installed": [{"handle": "handle 1", "protocol": "gEfiLoadedImageProtocolGuid"},
                                              {"handle": "handle 2", "protocol": "gEfiLoadedImageProtocolGuid"}])";
  EXPECT_EQ(
      Diff(Boot(Twice), Boot(R"("installed": [{"handle": "handle 1", "protocol": "gEfiLoadedImageProtocolGuid"}])")),
      (std::vector<std::string>{
          "only in A: boots[0].installed[protocol=gEfiLoadedImageProtocolGuid #2]  <boots[0].installed>"}));
  EXPECT_EQ(Diff(Boot(R"("installed": [{"handle": "handle 1"}, {"protocol": "gA"}])"),
                 Boot(R"("installed": [{"protocol": "gA"}, {"handle": "handle 1"}])")),
            (std::vector<std::string>{R"(boots[0].installed[0].handle: "handle 1" != (absent)  <boots[0].installed>)",
                                      R"(boots[0].installed[0].protocol: (absent) != "gA"  <boots[0].installed>)",
                                      R"(boots[0].installed[1].handle: (absent) != "handle 1"  <boots[0].installed>)",
                                      R"(boots[0].installed[1].protocol: "gA" != (absent)  <boots[0].installed>)"}));
  // The boots themselves and the POST codes are sequences.
  EXPECT_EQ(Diff(R"({"boots": [{"post_codes": [1, 2]}, {}], "image": "a"})",
                 R"({"boots": [{"post_codes": [2, 1]}], "image": "b"})"),
            (std::vector<std::string>{"boots: length 2 != length 1  <boots>",
                                      "boots[0].post_codes[0]: 1 != 2  <boots[0].post_codes>",
                                      "boots[0].post_codes[1]: 2 != 1  <boots[0].post_codes>",
                                      "boots[1]: {} != (absent)  <boots>", R"(image: "a" != "b"  <image>)"}));
}

TEST(KeyedDiff, IgnorePatternsReachKeyedRecordsByIndexWildcardAndMember) {
  const std::string Left =
      Boot(R"("hardware_accesses": {"phases": [{"phase": "entry", "n": 1}, {"phase": "smm_core", "n": 1}]})");
  const std::string Right =
      Boot(R"("hardware_accesses": {"phases": [{"phase": "smm_core", "n": 2}, {"phase": "entry", "n": 2},
                                                                      {"phase": "ready_to_boot", "n": 2}]})");
  EXPECT_EQ(Diff(Left, Right, {"boots[*].hardware_accesses.phases[phase=smm_core]"}),
            (std::vector<std::string>{
                "boots[0].hardware_accesses.phases[phase=entry].n: 1 != 2  <boots[0].hardware_accesses>",
                "only in B: boots[0].hardware_accesses.phases[phase=ready_to_boot]  <boots[0].hardware_accesses>"}));
  EXPECT_EQ(Diff(Left, Right, {"boots[*].hardware_accesses.phases[*]"}), std::vector<std::string>{});
}

TEST(IgnoreFile, CommentsAndBlankLinesAreLeftOutAndEachLineIsAPattern) {
  const std::vector<PathPattern> Patterns =
      ParseIgnoreText("# the image's name\n\n  image  \r\n\t# indented comment\nboots[*].traps\n", "x.ignore");
  ASSERT_EQ(Patterns.size(), 2u);
  EXPECT_EQ(Patterns[0].Text(), "image");
  EXPECT_EQ(Patterns[1].Text(), "boots[*].traps");
  try {
    ParseIgnoreText("image\n# fine\nboots[\n", "x.ignore");
    FAIL() << "accepted a pattern without its ']'";
  } catch (const std::invalid_argument &Error) {
    EXPECT_STREQ(Error.what(), R"(x.ignore:3: ignore pattern "boots[": '[' without its ']' at column 6)");
  }
}

// The command reads an ignore file and a preset; what they leave out shows in the output.
TEST(DiffCommand, IgnoreFileAndPresetLeaveOutTheirPatterns) {
  const std::string Dir = testing::TempDir();
  const std::string A = Dir + "/keyed-a.json", B = Dir + "/keyed-b.json", Ignore = Dir + "/keyed.ignore";
  std::ofstream(A) << R"({"image": "CcxImage", "boots": [{"image": "CcxImage", "entry_status": "EFI_SUCCESS"}]})";
  std::ofstream(B) << R"({"image": "CcxRellDxe.efi", "boots": [{"image": "CcxRellDxe.efi", "image_base": "0x100000",
                           "traps": {"msr_read": 3}, "entry_status": "EFI_ABORTED"}]})";
  std::ofstream(Ignore) << "# names differ\nimage\nboots[*].image\n";
  std::ostringstream Out, Err;
  EXPECT_EQ(RunDiffCommand({"--ignore-file", Ignore, A, B}, Out, Err), 1);
  EXPECT_EQ(Out.str(),
            "boots[0].entry_status: \"EFI_SUCCESS\" != \"EFI_ABORTED\"\n"
            "boots[0].image_base: (absent) != \"0x100000\"\n"
            "boots[0].traps: (absent) != {\"msr_read\":3}\n"
            "\nby section:\n"
            "  boots[0].entry_status: 1 difference, 0 only in A, 0 only in B\n"
            "  boots[0].image_base: 1 difference, 0 only in A, 0 only in B\n"
            "  boots[0].traps: 1 difference, 0 only in A, 0 only in B\n"
            "3 differences\n");
  std::ostringstream PresetOut, PresetErr;
  EXPECT_EQ(RunDiffCommand({"--preset", "image", A, B}, PresetOut, PresetErr), 1);
  EXPECT_EQ(PresetOut.str(),
            "boots[0].entry_status: \"EFI_SUCCESS\" != \"EFI_ABORTED\"\n\nby section:\n"
            "  boots[0].entry_status: 1 difference, 0 only in A, 0 only in B\n1 difference\n");
  std::remove(A.c_str());
  std::remove(B.c_str());
  std::remove(Ignore.c_str());
}

TEST(DiffCommand, BadIgnoreFilesAndPresetsExitWithTwoNamingTheFile) {
  const std::string Bad = testing::TempDir() + "/bad.ignore";
  std::ofstream(Bad) << "# fine\nboots..x\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> Cases = {
      {{"--ignore-file", "/nonexistent/x.ignore", "a.json", "b.json"},
       "ccxsim: /nonexistent/x.ignore (ignore file): cannot be read: No such file or directory\n"},
      {{"--ignore-file", Bad, "a.json", "b.json"},
       "ccxsim: " + Bad + ":2: ignore pattern \"boots..x\": expected a key, not '.' at column 7\n" + kDiffUsage},
      {{"--preset", "imgae", "a.json", "b.json"},
       "ccxsim: unknown preset \"imgae\" (known: image, ovmf)\n" + std::string(kDiffUsage)},
      {{"a.json", "b.json", "--preset"}, "ccxsim: --preset needs a name\n" + std::string(kDiffUsage)},
  };
  for (const auto &[Arguments, Message] : Cases) {
    std::ostringstream Out, Err;
    EXPECT_EQ(RunDiffCommand(Arguments, Out, Err), 2);
    EXPECT_EQ(Err.str(), Message);
    EXPECT_EQ(Out.str(), "");
  }
  std::remove(Bad.c_str());
}

}  // namespace
}  // namespace ccxsim
