// The configuration items a description may set: a value the driver cannot use is refused with
// the file, the field, the value and the values it can use, the values it can use load, and the
// table of items in docs/machines.md says exactly what the loader's table says.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "sim/machine/JsonFields.h"
#include "sim/machine/Machine.h"
#include "sim/machine/PcdItems.h"

namespace sim {
namespace {

Machine WithPcd(const std::string &Item, const std::string &Value) {
  return ParseMachine(R"({"extends": "default", "name": "m", "pcd": {")" + Item + "\": " + Value + "}}", "bad.json");
}

struct RefusedValue {
  const char *Why;
  const char *Item;
  const char *Value;
  const char *Message;
};

class RefusedPcdValue : public ::testing::TestWithParam<RefusedValue> {};

TEST_P(RefusedPcdValue, NamesFileFieldValueAndTheValidValues) {
  try {
    WithPcd(GetParam().Item, GetParam().Value);
    FAIL() << "accepted: " << GetParam().Why;
  } catch (const MachineError &Error) {
    EXPECT_EQ(std::string(Error.what()), GetParam().Message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Items, RefusedPcdValue,
    ::testing::Values(
        RefusedValue{"an APIC mode that is neither xAPIC nor x2APIC", "PcdCcxApicMode", "7",
                     "bad.json: pcd.PcdCcxApicMode: expected an unsigned number from 0 to 2 (0 or 1: xAPIC; 2: "
                     "x2APIC), got 7"},
        RefusedValue{"a policy that stops fatally", "PcdCcxAcpiPstatePolicy", "\"0x3\"",
                     "bad.json: pcd.PcdCcxAcpiPstatePolicy: expected an unsigned number from 0 to 2 (1: policy flag 1; "
                     "0 or 2: policy flag 0), got \"0x3\""},
        RefusedValue{"a boolean that is neither", "PcdCcxRunApsSingleThreaded", "2",
                     "bad.json: pcd.PcdCcxRunApsSingleThreaded: expected false or true (0 or 1), got 2"},
        RefusedValue{"a copied option read with Get8", "PcdCcxOption368", "256",
                     "bad.json: pcd.PcdCcxOption368: expected an unsigned number from 0 to 255, got 256"},
        RefusedValue{"a word that is no number", "PcdCcxSnpMemSizeToCover", "\"1G\"",
                     "bad.json: pcd.PcdCcxSnpMemSizeToCover: expected an unsigned number from 0 to 0xFFFFFFFF, got \"1G\""}),
    [](const ::testing::TestParamInfo<RefusedValue> &Info) { return std::string(Info.param.Item) + "_" + std::to_string(Info.index); });

TEST(PcdValues, EveryValidValueLoadsAsTheTokenItIs) {
  const std::pair<const char *, const char *> Edges[] = {
      {"PcdCcxApicMode", "2"},          {"PcdCcxApicMode", "0"},
      {"PcdCcxAcpiPstatePolicy", "2"},  {"PcdCcxRunApsSingleThreaded", "true"},
      {"PcdCcxSmmLockHwcr", "1"},       {"PcdCcxOption375", "\"0xFFFF\""},
      {"PcdCcxPpinSocket3", "\"0xFFFFFFFFFFFFFFFF\""}};
  const uint64_t Expected[] = {2, 0, 2, 1, 1, 0xFFFF, UINT64_MAX};
  for (size_t Index = 0; Index < std::size(Edges); Index++) {
    const auto &[Name, Value] = Edges[Index];
    const PcdItemDefinition *Item = FindPcdItem(std::string(Name));
    ASSERT_NE(Item, nullptr) << Name;
    EXPECT_EQ(WithPcd(Name, Value).Pcd.at(Item->Token), Expected[Index]) << Name << " = " << Value;
  }
}

// docs/machines.md has one row per item: name, token, meaning, valid values and the value the
// built-in default machine gives it, each exactly as the loader's table has them.
std::string ExpectedRow(const PcdItemDefinition &Item, const Machine &Default) {
  const auto Set = Default.Pcd.find(Item.Token);
  std::ostringstream Row;
  Row << "| `" << Item.Name << "` | " << Item.Token << " | " << Item.Meaning << " | " << PcdValidValues(Item) << " | "
      << PcdValueText(Item, Set == Default.Pcd.end() ? 0 : Set->second) << " |";
  return Row.str();
}

TEST(PcdItemsDocumentation, TheTableInMachinesMdMatchesTheLoadersTable) {
  std::ifstream Page(CCX_DOCS_DIR "/machines.md");
  ASSERT_TRUE(Page) << "cannot read " CCX_DOCS_DIR "/machines.md";
  std::map<std::string, std::string> Rows;
  for (std::string Line; std::getline(Page, Line);) {
    if (Line.rfind("| `Pcd", 0) != 0) continue;
    const size_t End = Line.find('`', 3);
    ASSERT_NE(End, std::string::npos) << Line;
    Rows[Line.substr(3, End - 3)] = Line;
  }
  const Machine Default = DefaultMachine();
  for (const PcdItemDefinition &Item : PcdItems()) {
    const auto Row = Rows.find(Item.Name);
    if (Row == Rows.end()) {
      ADD_FAILURE() << "docs/machines.md has no row for " << Item.Name << "; it should read\n" << ExpectedRow(Item, Default);
      continue;
    }
    EXPECT_EQ(Row->second, ExpectedRow(Item, Default)) << "docs/machines.md describes " << Item.Name << " otherwise";
    Rows.erase(Row);
  }
  for (const auto &[Name, Line] : Rows) ADD_FAILURE() << "docs/machines.md lists " << Name << ", which no table knows";
}

}  // namespace
}  // namespace sim
