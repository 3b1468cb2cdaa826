#include "tools/ReportDiff.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <set>
#include <stdexcept>

#include "tools/ArrayKeys.h"

namespace ccxsim {
namespace {

using nlohmann::json;

bool IsPlainIdentifier(const std::string &Name) {
  if (Name.empty() || std::isdigit(static_cast<unsigned char>(Name[0]))) return false;
  return std::all_of(Name.begin(), Name.end(),
                     [](char Char) { return std::isalnum(static_cast<unsigned char>(Char)) || Char == '_'; });
}

bool StepMatches(const PathStep &Pattern, const PathStep &Step) {
  switch (Pattern.Kind) {
    case PathStep::Key: return Step.Kind == PathStep::Key && Step.Name == Pattern.Name;
    case PathStep::Index: return Step.Kind == PathStep::Index && Step.Number == Pattern.Number;
    case PathStep::AnyKey: return Step.Kind == PathStep::Key;
    case PathStep::AnyIndex: return Step.Kind == PathStep::Index;
    case PathStep::IndexWhere: {
      if (Step.Kind != PathStep::Index || Step.Element == nullptr || !Step.Element->is_object()) return false;
      const auto Member = Step.Element->find(Pattern.Name);
      if (Member == Step.Element->end()) return false;
      return Member->is_string() ? Member->get<std::string>() == Pattern.Value : Member->dump() == Pattern.Value;
    }
  }
  return false;
}

// Compact JSON; a string that is not UTF-8 (a value built in memory, not read from a file) is
// shown with replacement characters rather than stopping the comparison.
std::string Shown(const json *Value) {
  return Value ? Value->dump(-1, ' ', false, json::error_handler_t::replace) : std::string(kAbsentValue);
}

// The part of the report a place lies in: a boot's member, or a top-level member.
std::string SectionOf(const std::vector<PathStep> &Path) {
  const bool InABoot = Path.size() >= 3 && Path[0].Kind == PathStep::Key && Path[0].Name == "boots" &&
                       Path[1].Kind == PathStep::Index && Path[2].Kind == PathStep::Key;
  return FormatPath(std::vector<PathStep>(Path.begin(), Path.begin() + std::min<size_t>(Path.size(), InABoot ? 3 : 1)));
}

void Record(const std::vector<PathStep> &Path, const json *Left, const json *Right,
            ReportDifference::DifferenceKind Kind, std::vector<ReportDifference> &Out) {
  Out.push_back({FormatPath(Path), Shown(Left), Shown(Right), Kind, SectionOf(Path)});
}

void Walk(const json *Left, const json *Right, std::vector<PathStep> &Path, const std::vector<PathPattern> &Ignore,
          std::vector<ReportDifference> &Out, const char *LeaveOutMember = nullptr);

// Both sides' objects member by member, in sorted order; LeaveOutMember is compared elsewhere.
void WalkObjects(const json &Left, const json &Right, std::vector<PathStep> &Path,
                 const std::vector<PathPattern> &Ignore, std::vector<ReportDifference> &Out,
                 const char *LeaveOutMember) {
  std::set<std::string> Keys;
  for (const auto &Item : Left.items()) Keys.insert(Item.key());
  for (const auto &Item : Right.items()) Keys.insert(Item.key());
  if (LeaveOutMember != nullptr) Keys.erase(LeaveOutMember);
  for (const std::string &Key : Keys) {
    const auto InLeft = Left.find(Key);
    const auto InRight = Right.find(Key);
    Path.push_back({PathStep::Key, Key, 0, "", nullptr, ""});
    Walk(InLeft != Left.end() ? &*InLeft : nullptr, InRight != Right.end() ? &*InRight : nullptr, Path, Ignore, Out);
    Path.pop_back();
  }
}

bool Ignored(const std::vector<PathStep> &Path, const std::vector<PathPattern> &Ignore) {
  return std::any_of(Ignore.begin(), Ignore.end(),
                     [&Path](const PathPattern &Pattern) { return Pattern.Matches(Path); });
}

// The integer a plain element holds, if it holds one (a processor number).
std::optional<int64_t> IntegerOf(const json *Value) {
  if (Value == nullptr || !Value->is_number_integer()) return std::nullopt;
  return Value->get<int64_t>();
}

// A keyed array: elements pair by key, and one that only a side holds is one line. Processor
// numbers only one side holds are one line for each run of consecutive numbers (processor=64..127),
// so that a machine with half the processors does not give a line for each.
void WalkKeyed(const KeyRule &Rule, const std::vector<KeyedPair> &Pairs, std::vector<PathStep> &Path,
               const std::vector<PathPattern> &Ignore, std::vector<ReportDifference> &Out) {
  for (size_t Index = 0; Index < Pairs.size(); Index++) {
    const KeyedPair &Pair = Pairs[Index];
    const bool FromLeft = Pair.Left != nullptr;
    Path.push_back({PathStep::Index, "", FromLeft ? Pair.LeftIndex : Pair.RightIndex, "",
                    FromLeft ? Pair.Left : Pair.Right, Pair.Label});
    const std::optional<int64_t> First = IntegerOf(FromLeft ? Pair.Left : Pair.Right);
    size_t Last = Index;
    while (Rule.Member == nullptr && First && (Pair.Left == nullptr) != (Pair.Right == nullptr) &&
           Last + 1 < Pairs.size() && !Ignored(Path, Ignore)) {
      const KeyedPair &Next = Pairs[Last + 1];
      const std::optional<int64_t> Number = IntegerOf(FromLeft ? Next.Left : Next.Right);
      const bool OnTheSameSideOnly = (FromLeft ? Next.Right : Next.Left) == nullptr;
      if (!OnTheSameSideOnly || !Number || *Number != *First + int64_t(Last + 1 - Index)) break;
      std::vector<PathStep> NextPath = Path;
      NextPath.back() = {PathStep::Index, "", FromLeft ? Next.LeftIndex : Next.RightIndex, "",
                         FromLeft ? Next.Left : Next.Right, Next.Label};
      if (Ignored(NextPath, Ignore)) break;
      Last++;
    }
    if (Last > Index) {
      Path.back().Label = std::string(Rule.Name) + "=" + std::to_string(*First) + ".." +
                          std::to_string(*First + int64_t(Last - Index));
      Record(Path, FromLeft ? Pair.Left : nullptr, FromLeft ? nullptr : Pair.Right,
             FromLeft ? ReportDifference::OnlyInLeft : ReportDifference::OnlyInRight, Out);
      Index = Last;
    } else {
      const bool Agrees = Pair.GroupingAgrees && Rule.Grouping != nullptr;
      Walk(Pair.Left, Pair.Right, Path, Ignore, Out, Agrees ? Rule.Grouping : nullptr);
    }
    Path.pop_back();
  }
}

// The one walk over both documents: Left or Right is null where that side lacks the place.
void Walk(const json *Left, const json *Right, std::vector<PathStep> &Path, const std::vector<PathPattern> &Ignore,
          std::vector<ReportDifference> &Out, const char *LeaveOutMember) {
  if (Ignored(Path, Ignore)) return;
  if (Left == nullptr || Right == nullptr) {
    const bool Keyed = !Path.empty() && !Path.back().Label.empty();
    const auto Kind = !Keyed ? ReportDifference::Changed
                      : Left ? ReportDifference::OnlyInLeft
                             : ReportDifference::OnlyInRight;
    Record(Path, Left, Right, Kind, Out);
    return;
  }
  if (Left->is_object() && Right->is_object()) {
    WalkObjects(*Left, *Right, Path, Ignore, Out, LeaveOutMember);
    return;
  }
  if (Left->is_array() && Right->is_array()) {
    if (const KeyRule *Rule = FindKeyRule(Path)) {
      if (const auto Pairs = PairByKey(*Rule, *Left, *Right)) {
        WalkKeyed(*Rule, *Pairs, Path, Ignore, Out);
        return;
      }
    }
    // Any other array pairs by position: an element added in the middle shows as every later one
    // changed, which is what a regression check wants of a sequence rather than a guess at the
    // alignment.
    if (Left->size() != Right->size()) {
      Out.push_back({FormatPath(Path), "length " + std::to_string(Left->size()),
                     "length " + std::to_string(Right->size()), ReportDifference::Changed, SectionOf(Path)});
    }
    for (size_t Index = 0; Index < std::max(Left->size(), Right->size()); Index++) {
      const json *LeftElement = Index < Left->size() ? &(*Left)[Index] : nullptr;
      const json *RightElement = Index < Right->size() ? &(*Right)[Index] : nullptr;
      Path.push_back({PathStep::Index, "", Index, "", LeftElement != nullptr ? LeftElement : RightElement, ""});
      Walk(LeftElement, RightElement, Path, Ignore, Out);
      Path.pop_back();
    }
    return;
  }
  if (*Left != *Right) Record(Path, Left, Right, ReportDifference::Changed, Out);
}

[[noreturn]] void PatternError(const std::string &Text, size_t Column, const std::string &What) {
  throw std::invalid_argument("ignore pattern \"" + Text + "\": " + What + " at column " + std::to_string(Column + 1));
}

}  // namespace

std::string FormatPath(const std::vector<PathStep> &Path) {
  if (Path.empty()) return "(root)";
  std::string Text;
  for (const PathStep &Step : Path) {
    const bool IsKey = Step.Kind == PathStep::Key || Step.Kind == PathStep::AnyKey;
    if (IsKey && !Text.empty()) Text += '.';
    switch (Step.Kind) {
      case PathStep::Key: Text += IsPlainIdentifier(Step.Name) ? Step.Name : json(Step.Name).dump(); break;
      case PathStep::Index: Text += "[" + (Step.Label.empty() ? std::to_string(Step.Number) : Step.Label) + "]"; break;
      case PathStep::AnyKey: Text += "*"; break;
      case PathStep::AnyIndex: Text += "[*]"; break;
      case PathStep::IndexWhere: Text += "[" + Step.Name + "=" + Step.Value + "]"; break;
    }
  }
  return Text;
}

PathPattern PathPattern::Parse(const std::string &Text) {
  auto Fail = [&Text](size_t Column, const std::string &What) { PatternError(Text, Column, What); };
  if (Text.empty()) throw std::invalid_argument("ignore pattern is empty");
  PathPattern Result;
  Result.Source = Text;
  // Where the next step may start: at the beginning a key or an index, after '.' only a key,
  // after a step only '.' or '['.
  enum { Start, AfterDot, AfterStep } State = Start;
  size_t At = 0;
  while (At < Text.size()) {
    if (State == AfterStep && Text[At] == '.') {
      State = AfterDot;
      At++;
    } else if (State != AfterDot && Text[At] == '[') {
      const size_t Close = Text.find(']', At);
      if (Close == std::string::npos) Fail(At, "'[' without its ']'");
      const std::string Inside = Text.substr(At + 1, Close - At - 1);
      const bool Digits = !Inside.empty() && Inside.size() <= 18 &&
                          std::all_of(Inside.begin(), Inside.end(), [](char C) { return C >= '0' && C <= '9'; });
      const size_t Equals = Inside.find('=');
      if (Inside == "*") {
        Result.Steps.push_back({PathStep::AnyIndex, "", 0, "", nullptr, ""});
      } else if (Digits) {
        Result.Steps.push_back({PathStep::Index, "", std::stoull(Inside), "", nullptr, ""});
      } else if (Equals != std::string::npos && Equals > 0 && Equals + 1 < Inside.size()) {
        Result.Steps.push_back(
            {PathStep::IndexWhere, Inside.substr(0, Equals), 0, Inside.substr(Equals + 1), nullptr, ""});
      } else {
        Fail(At + 1, "expected an index, * or member=value between [ and ], not \"" + Inside + "\"");
      }
      At = Close + 1;
      State = AfterStep;
    } else if (State == AfterStep) {
      Fail(At, "expected '.' or '[', not '" + std::string(1, Text[At]) + "'");
    } else if (Text[At] == '"') {
      size_t End = At + 1;
      while (End < Text.size() && Text[End] != '"') End += Text[End] == '\\' ? 2 : 1;
      if (End >= Text.size()) Fail(At, "quoted key without its closing '\"'");
      json Key;
      try {
        Key = json::parse(Text.substr(At, End - At + 1));
      } catch (const json::exception &) {
        Fail(At, "quoted key that is not a JSON string");
      }
      Result.Steps.push_back({PathStep::Key, Key.get<std::string>(), 0, "", nullptr, ""});
      At = End + 1;
      State = AfterStep;
    } else {
      const size_t End = std::min(Text.find_first_of(".[]\"", At), Text.size());
      if (End == At) Fail(At, "expected a key, not '" + std::string(1, Text[At]) + "'");
      const std::string Name = Text.substr(At, End - At);
      Result.Steps.push_back({Name == "*" ? PathStep::AnyKey : PathStep::Key, Name, 0, "", nullptr, ""});
      At = End;
      State = AfterStep;
    }
  }
  if (State == AfterDot) Fail(At, "expected a key after the final '.'");
  return Result;
}

bool PathPattern::Matches(const std::vector<PathStep> &Path) const {
  if (Path.size() != Steps.size()) return false;
  for (size_t Index = 0; Index < Path.size(); Index++) {
    if (!StepMatches(Steps[Index], Path[Index])) return false;
  }
  return true;
}

std::vector<ReportDifference> DiffReports(const json &Left, const json &Right, const std::vector<PathPattern> &Ignore) {
  std::vector<ReportDifference> Differences;
  std::vector<PathStep> Path;
  Walk(&Left, &Right, Path, Ignore, Differences);
  return Differences;
}

}  // namespace ccxsim
