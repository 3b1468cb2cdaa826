// Which arrays of a report are sets of records with a natural key, and how the elements of two such
// arrays pair up: protocols by GUID, MSR changes by number, variables by name and GUID, and so on.
// Every other array pairs its elements by position.
#ifndef TOOLS_ARRAYKEYS_H_
#define TOOLS_ARRAYKEYS_H_

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "tools/ReportDiff.h"

namespace ccxsim {

// One keyed array: where it lies, and the member that names an element. An empty Member means the
// elements are plain values (processor numbers) that are their own key; Name then names them.
// Grouping is a member whose value is only a name handed out in order of creation (a protocol's
// handle): two elements agree on it when it groups the same keys together on both sides.
struct KeyRule {
  const char *Array;
  const char *Member;
  const char *Name;
  const char *Grouping;
};

// The rule for the array at Path, or null when its elements pair by position.
const KeyRule *FindKeyRule(const std::vector<PathStep> &Path);

// One element of either side or of both, with its key as the path shows it ("protocol=gFooGuid").
struct KeyedPair {
  const nlohmann::json *Left = nullptr;
  const nlohmann::json *Right = nullptr;
  size_t LeftIndex = 0;
  size_t RightIndex = 0;
  std::string Label;
  // For a pair present on both sides: whether the Grouping member groups it with the same keys.
  bool GroupingAgrees = true;
};

// The elements of Left and Right paired by Rule's key: first Left's elements in order (each with
// its partner in Right, if any), then the ones only Right has, in Right's order. A key that occurs
// more than once pairs its occurrences in order, the second shown as "key=value #2". Empty when an
// element lacks the key (not an object, no such member, or a value where records were expected):
// the array then pairs by position.
std::optional<std::vector<KeyedPair>> PairByKey(const KeyRule &Rule, const nlohmann::json &Left,
                                                const nlohmann::json &Right);

}  // namespace ccxsim

#endif  // TOOLS_ARRAYKEYS_H_
