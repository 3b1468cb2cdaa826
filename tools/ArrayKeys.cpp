#include "tools/ArrayKeys.h"

#include <map>
#include <set>

namespace ccxsim {
namespace {

using nlohmann::json;

// Every keyed array of report.json. Sequences whose order is the finding (POST codes, test points,
// steps, SMRAM calls, option-hook calls, SMIs, SMU messages, S3 entries, the APIC IDs of a socket
// in walk order) are left out on purpose: they pair by position.
constexpr KeyRule kKeyRules[] = {
    {"processors", "index", nullptr, nullptr},
    {"boots[*].installed", "protocol", nullptr, "handle"},
    {"boots[*].msr_changes", "msr", nullptr, nullptr},
    {"boots[*].msr_changes[*].processors", nullptr, "processor", nullptr},
    {"boots[*].variables", "name", nullptr, nullptr},  // the name carries the vendor GUID
    {"boots[*].heap.buffers", "handle", nullptr, nullptr},
    {"boots[*].armed_events", "notify", nullptr, nullptr},
    {"boots[*].pcd_writes", "token", nullptr, nullptr},
    {"boots[*].hardware_accesses.phases", "phase", nullptr, nullptr},
    {"boots[*].smram.map", "base", nullptr, nullptr},
    {"boots[*].smram.range_msrs[*].processors", nullptr, "processor", nullptr},
    {"boots[*].snp.agreeing_processors", nullptr, "processor", nullptr},
    {"boots[*].tokens_smu_s3.pstate0[*].processors", nullptr, "processor", nullptr},
    {"boots[*].tokens_smu_s3.*.*.tokens", "uid", nullptr, nullptr},
    {"boots[*].acpi_processor_objects.sockets", "socket", nullptr, nullptr},
    {"boots[*].acpi_processor_objects.sockets[*].pstates", "pstate", nullptr, nullptr},
    {"boots[*].platform_tables.smbios", "socket", nullptr, nullptr},
    {"boots[*].affinity_tables.srat.processors", "apic_id", nullptr, nullptr},
    {"boots[*].affinity_tables.resource_affinity.compute_units", "apic_id", nullptr, nullptr},
};

// A key as the path shows it: strings bare, everything else as compact JSON.
std::string KeyText(const json &Value) {
  return Value.is_string() ? Value.get<std::string>() : Value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// Each element's label, or nothing when an element has no key.
std::optional<std::vector<std::string>> Labels(const KeyRule &Rule, const json &Array) {
  std::vector<std::string> Result;
  std::map<std::string, size_t> Seen;
  for (const json &Element : Array) {
    std::string Label;
    if (Rule.Member == nullptr) {
      if (Element.is_structured()) return std::nullopt;
      Label = std::string(Rule.Name) + "=" + KeyText(Element);
    } else {
      if (!Element.is_object()) return std::nullopt;
      const auto Member = Element.find(Rule.Member);
      if (Member == Element.end() || Member->is_structured()) return std::nullopt;
      Label = std::string(Rule.Member) + "=" + KeyText(*Member);
    }
    const size_t Occurrence = ++Seen[Label];
    Result.push_back(Occurrence == 1 ? Label : Label + " #" + std::to_string(Occurrence));
  }
  return Result;
}

// For each value of the Grouping member on one side, the smallest label it groups among the
// elements both sides hold: two handles are the same handle when that label is the same.
std::map<std::string, std::string> GroupNames(const KeyRule &Rule, const json &Array,
                                              const std::vector<std::string> &ArrayLabels,
                                              const std::set<std::string> &OnBothSides) {
  std::map<std::string, std::string> Names;
  for (size_t Index = 0; Index < Array.size(); Index++) {
    if (OnBothSides.count(ArrayLabels[Index]) == 0) continue;
    const auto Member = Array[Index].find(Rule.Grouping);
    if (Member == Array[Index].end()) continue;
    auto [Entry, Inserted] = Names.emplace(Member->dump(), ArrayLabels[Index]);
    if (!Inserted && ArrayLabels[Index] < Entry->second) Entry->second = ArrayLabels[Index];
  }
  return Names;
}

std::string GroupOf(const json &Element, const char *Grouping, const std::map<std::string, std::string> &Names) {
  const auto Member = Element.find(Grouping);
  if (Member == Element.end()) return "";
  const auto Name = Names.find(Member->dump());
  return Name == Names.end() ? "" : Name->second;
}

}  // namespace

const KeyRule *FindKeyRule(const std::vector<PathStep> &Path) {
  static const std::vector<PathPattern> Patterns = [] {
    std::vector<PathPattern> Result;
    for (const KeyRule &Rule : kKeyRules) Result.push_back(PathPattern::Parse(Rule.Array));
    return Result;
  }();
  for (size_t Index = 0; Index < Patterns.size(); Index++) {
    if (Patterns[Index].Matches(Path)) return &kKeyRules[Index];
  }
  return nullptr;
}

std::optional<std::vector<KeyedPair>> PairByKey(const KeyRule &Rule, const json &Left, const json &Right) {
  const std::optional<std::vector<std::string>> LeftLabels = Labels(Rule, Left);
  const std::optional<std::vector<std::string>> RightLabels = Labels(Rule, Right);
  if (!LeftLabels || !RightLabels) return std::nullopt;

  std::map<std::string, size_t> RightByLabel;
  for (size_t Index = 0; Index < RightLabels->size(); Index++) RightByLabel.emplace((*RightLabels)[Index], Index);
  std::vector<KeyedPair> Pairs;
  std::set<std::string> OnBothSides;
  for (size_t Index = 0; Index < LeftLabels->size(); Index++) {
    KeyedPair Pair;
    Pair.Left = &Left[Index];
    Pair.LeftIndex = Index;
    Pair.Label = (*LeftLabels)[Index];
    const auto Partner = RightByLabel.find(Pair.Label);
    if (Partner != RightByLabel.end()) {
      Pair.Right = &Right[Partner->second];
      Pair.RightIndex = Partner->second;
      OnBothSides.insert(Pair.Label);
      RightByLabel.erase(Partner);
    }
    Pairs.push_back(std::move(Pair));
  }
  for (size_t Index = 0; Index < RightLabels->size(); Index++) {
    if (RightByLabel.count((*RightLabels)[Index]) == 0) continue;
    KeyedPair Pair;
    Pair.Right = &Right[Index];
    Pair.RightIndex = Index;
    Pair.Label = (*RightLabels)[Index];
    Pairs.push_back(std::move(Pair));
  }

  if (Rule.Grouping != nullptr) {
    const auto LeftGroups = GroupNames(Rule, Left, *LeftLabels, OnBothSides);
    const auto RightGroups = GroupNames(Rule, Right, *RightLabels, OnBothSides);
    for (KeyedPair &Pair : Pairs) {
      if (Pair.Left == nullptr || Pair.Right == nullptr) continue;
      Pair.GroupingAgrees =
          GroupOf(*Pair.Left, Rule.Grouping, LeftGroups) == GroupOf(*Pair.Right, Rule.Grouping, RightGroups);
    }
  }
  return Pairs;
}

}  // namespace ccxsim
