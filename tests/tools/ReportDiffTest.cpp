#include "tools/ReportDiff.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

#include "tools/DiffCommand.h"
#include "tools/IgnoreFile.h"

namespace ccxsim {
namespace {

using nlohmann::json;

std::vector<std::string> Lines(const std::vector<ReportDifference> &Differences) {
  std::vector<std::string> Result;
  for (const ReportDifference &Difference : Differences) {
    switch (Difference.Kind) {
      case ReportDifference::OnlyInLeft: Result.push_back("only in A: " + Difference.Path); break;
      case ReportDifference::OnlyInRight: Result.push_back("only in B: " + Difference.Path); break;
      case ReportDifference::Changed:
        Result.push_back(Difference.Path + ": " + Difference.Left + " != " + Difference.Right);
        break;
    }
  }
  return Result;
}

std::vector<std::string> Diff(const char *Left, const char *Right, const std::vector<std::string> &Ignore = {}) {
  std::vector<PathPattern> Patterns;
  for (const std::string &Text : Ignore) Patterns.push_back(PathPattern::Parse(Text));
  return Lines(DiffReports(json::parse(Left), json::parse(Right), Patterns));
}

TEST(ReportDiff, EqualDocumentsAgreeWhateverTheKeyOrder) {
  EXPECT_TRUE(Diff(R"({"a": [1, {"b": null}], "c": "x"})", R"({"c": "x", "a": [1, {"b": null}]})").empty());
}

TEST(ReportDiff, ChangedScalarDeepInArraysAndObjectsIsNamedByItsPath) {
  const char *Left = R"({"boots": [{"msr_changes": [{"after": "0x1"}, {"after": "0x2", "on": [0, 1]}]}]})";
  const char *Right = R"({"boots": [{"msr_changes": [{"after": "0x1"}, {"after": "0x3", "on": [0, 2]}]}]})";
  EXPECT_EQ(Diff(Left, Right), (std::vector<std::string>{R"(boots[0].msr_changes[1].after: "0x2" != "0x3")",
                                                         "boots[0].msr_changes[1].on[1]: 1 != 2"}));
}

TEST(ReportDiff, KeyMissingOnEitherSideIsShownAsAbsent) {
  EXPECT_EQ(Diff(R"({"a": 1, "b": {"c": true}})", R"({"a": 1, "d": null})"),
            (std::vector<std::string>{R"(b: {"c":true} != (absent))", "d: (absent) != null"}));
}

TEST(ReportDiff, ArraysOfDifferentLengthsGiveTheLengthsThenEachExtraElement) {
  EXPECT_EQ(Diff(R"({"x": [1, 2]})", R"({"x": [1, 3, 4, {"y": 5}]})"),
            (std::vector<std::string>{"x: length 2 != length 4", "x[1]: 2 != 3", "x[2]: (absent) != 4",
                                      R"(x[3]: (absent) != {"y":5})"}));
  EXPECT_EQ(Diff("[[1]]", "[]"), (std::vector<std::string>{"(root): length 1 != length 0", "[0]: [1] != (absent)"}));
}

TEST(ReportDiff, ValuesOfDifferentKindsDifferAsAWhole) {
  EXPECT_EQ(Diff(R"({"a": {"b": 1}, "c": "1"})", R"({"a": [1], "c": 1})"),
            (std::vector<std::string>{R"(a: {"b":1} != [1])", R"(c: "1" != 1)"}));
}

TEST(ReportDiff, KeysThatAreNotIdentifiersAreQuoted) {
  EXPECT_EQ(
      Diff(R"({"acpi": {"SSDT-CPC": 1, "0x10": 1, "a b": 1}})", R"({"acpi": {"SSDT-CPC": 2, "0x10": 2, "a b": 2}})"),
      (std::vector<std::string>{R"(acpi."0x10": 1 != 2)", R"(acpi."SSDT-CPC": 1 != 2)", R"(acpi."a b": 1 != 2)"}));
}

// Two boots, each differing in every field, so that what a pattern leaves out shows exactly.
constexpr const char *kTwoBootsLeft =
    R"({"image": "a", "boots": [{"image": "a", "image_size": 1, "accesses": {"image": 1, "time": 1}},
                                {"image": "a", "image_size": 1, "accesses": {"image": 1, "time": 1}}]})";
constexpr const char *kTwoBootsRight =
    R"({"image": "b", "boots": [{"image": "b", "image_size": 2, "accesses": {"image": 2, "time": 2}},
                                {"image": "b", "image_size": 2, "accesses": {"image": 2, "time": 2}}]})";

struct IgnoreCase {
  const char *Name;
  std::vector<std::string> Patterns;
  std::vector<std::string> Remaining;
};

void PrintTo(const IgnoreCase &Case, std::ostream *Out) {
  for (const std::string &Pattern : Case.Patterns) *Out << Pattern << " ";
}

class IgnorePatterns : public testing::TestWithParam<IgnoreCase> {};

TEST_P(IgnorePatterns, LeaveOutExactlyTheNamedPlacesAndWhatLiesBelow) {
  std::vector<std::string> Paths;
  for (const std::string &Line : Diff(kTwoBootsLeft, kTwoBootsRight, GetParam().Patterns)) {
    Paths.push_back(Line.substr(0, Line.find(':')));
  }
  EXPECT_EQ(Paths, GetParam().Remaining);
}

INSTANTIATE_TEST_SUITE_P(ReportDiff, IgnorePatterns,
                         testing::Values(
                             // Neither the sibling image_size nor the image below accesses, nor the top-level image.
                             IgnoreCase{
                                 "AnyIndexThenKey",
                                 {"boots[*].image"},
                                 {"boots[0].accesses.image", "boots[0].accesses.time", "boots[0].image_size",
                                  "boots[1].accesses.image", "boots[1].accesses.time", "boots[1].image_size", "image"}},
                             IgnoreCase{"WholeElementAndObject",
                                        {"boots[1]", "boots[0].accesses"},
                                        {"boots[0].image", "boots[0].image_size", "image"}},
                             IgnoreCase{"AnyTopLevelKey", {"*", "boots[*].*.time"}, {}},
                             IgnoreCase{"AnyKeyAtTwoLevels", {"boots[*].*.time", "boots[*].*"}, {"image"}},
                             IgnoreCase{"QuotedKeys",
                                        {"boots[*].accesses.*", R"("image")", R"(boots[*]."image_size")"},
                                        {"boots[0].image", "boots[1].image"}},
                             // An index pattern never matches a key, nor a key pattern an index.
                             IgnoreCase{"KindsAndPlacesThatDoNotExist",
                                        {"boots.*", "[*]", "image.*", "boots[2]"},
                                        {"boots[0].accesses.image", "boots[0].accesses.time", "boots[0].image",
                                         "boots[0].image_size", "boots[1].accesses.image", "boots[1].accesses.time",
                                         "boots[1].image", "boots[1].image_size", "image"}}),
                         [](const testing::TestParamInfo<IgnoreCase> &Info) { return std::string(Info.param.Name); });

struct BadPattern {
  const char *Name;
  const char *Text;
  const char *Message;
};

void PrintTo(const BadPattern &Case, std::ostream *Out) { *Out << '"' << Case.Text << '"'; }

class BadPatterns : public testing::TestWithParam<BadPattern> {};

TEST_P(BadPatterns, AreRefusedWithTheColumnAndWhatWasExpected) {
  try {
    PathPattern::Parse(GetParam().Text);
    FAIL() << "accepted \"" << GetParam().Text << "\"";
  } catch (const std::invalid_argument &Error) {
    EXPECT_STREQ(Error.what(), GetParam().Message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    ReportDiff, BadPatterns,
    testing::Values(
        BadPattern{"Empty", "", "ignore pattern is empty"},
        BadPattern{"UnclosedBracket", "boots[", R"(ignore pattern "boots[": '[' without its ']' at column 6)"},
        BadPattern{"NotAnIndex", "boots[x]",
                   R"(ignore pattern "boots[x]": expected an index, * or member=value between [ and ], not "x" at column 7)"},
        BadPattern{"FinalDot", "boots.", R"(ignore pattern "boots.": expected a key after the final '.' at column 7)"},
        BadPattern{"EmptyKey", "a..b", R"(ignore pattern "a..b": expected a key, not '.' at column 3)"},
        BadPattern{"IndexAfterDot", "a.[0]", R"(ignore pattern "a.[0]": expected a key, not '[' at column 3)"},
        BadPattern{"StrayBracket", "a]", R"(ignore pattern "a]": expected '.' or '[', not ']' at column 2)"},
        BadPattern{"UnclosedQuote", R"(a."b)",
                   R"(ignore pattern "a."b": quoted key without its closing '"' at column 3)"}),
    [](const testing::TestParamInfo<BadPattern> &Info) { return std::string(Info.param.Name); });

// A member selector names the elements by what they hold, not where they stand, and only those.
TEST(ReportDiff, MemberSelectorLeavesOutTheElementsWithThatValueOnly) {
  const char *Left = R"({"phases": [{"phase": "entry", "n": 1}, {"phase": "smm_core", "n": 1}, {"id": 7, "n": 1}]})";
  const char *Right = R"({"phases": [{"phase": "entry", "n": 2}, {"phase": "smm_core", "n": 2}, {"id": 7, "n": 2}]})";
  EXPECT_EQ(Diff(Left, Right, {"phases[phase=smm_core]", "phases[id=7]"}), (std::vector<std::string>{"phases[0].n: 1 != 2"}));
  EXPECT_EQ(Diff(Left, Right, {"phases[phase=smm]"}).size(), 3u);
}

// The command's own refusals; reading files and the exit statuses of a comparison run as CTest
// cases on real reports.
TEST(DiffCommand, UsageErrorsExitWithTwoAndSayWhatWasWrong) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> Cases = {
      {{"a.json"}, "ccxsim: diff takes two report files, not 1\n"},
      {{"a.json", "b.json", "--ignore"}, "ccxsim: --ignore needs a pattern\n"},
      {{"--ignore-file", "", "a.json", "b.json"}, "ccxsim: --ignore-file needs a file, not an empty value\n"},
      {{"a.json", ""}, "ccxsim: diff takes two report files, not an empty name\n"},
      {{"--ignore", "x[", "a.json", "b.json"}, "ccxsim: ignore pattern \"x[\": '[' without its ']' at column 2\n"},
      {{"--ignored", "x", "a.json", "b.json"}, "ccxsim: unknown option \"--ignored\" for diff\n"},
  };
  for (const auto &[Arguments, Message] : Cases) {
    std::ostringstream Out, Err;
    EXPECT_EQ(RunDiffCommand(Arguments, Out, Err), 2);
    EXPECT_EQ(Err.str(), Message + kDiffUsage);
    EXPECT_EQ(Out.str(), "");
  }
}

}  // namespace
}  // namespace ccxsim
