// Field-by-field comparison of two JSON documents, such as the report.json of two ccxsim runs.
//
// A place in a document is written the way a reader would name it: object keys joined with '.',
// array indices in brackets (for a record of a keyed array, ArrayKeys.h, its key instead), and a
// key that is not a plain identifier quoted as a JSON string, e.g. boots[0].steps[3],
// boots[0].msr_changes[msr=0x00000202].after or boots[0].acpi."SSDT-CPC".
#ifndef TOOLS_REPORTDIFF_H_
#define TOOLS_REPORTDIFF_H_

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace ccxsim {

// One step down a document: into an object by key or into an array by index. In a pattern the
// step may also stand for any one key, any one index, or the elements whose member Name has the
// string or number Value (phases[phase=smm_core]).
struct PathStep {
  enum StepKind { Key, Index, AnyKey, AnyIndex, IndexWhere };
  StepKind Kind = Key;
  std::string Name;   // Key; IndexWhere: the member
  size_t Number = 0;  // Index
  std::string Value;  // IndexWhere
  // During a walk, the element an Index step leads to (either side's, the left one first).
  const nlohmann::json *Element = nullptr;
  // During a walk, an element of a keyed array: its key ("protocol=gFooGuid"), shown instead of the
  // index (Number is then its place on the side Element belongs to).
  std::string Label;
};

// "(root)" for the document itself.
std::string FormatPath(const std::vector<PathStep> &Path);

// A place, or a family of places, to leave out of a comparison: `*` stands for exactly one key
// and `[*]` for exactly one index, so boots[*].hardware_accesses names that field of every boot;
// `[member=value]` stands for the elements of an array whose member has that value, for arrays of
// records where position means little (boots[*].hardware_accesses.phases[phase=smm_core]).
// Keys may be written bare (anything but . [ ] ") or quoted as JSON strings; "*" quoted is the
// key named *.
class PathPattern {
 public:
  // Throws std::invalid_argument naming the pattern, the column and what was expected there.
  static PathPattern Parse(const std::string &Text);

  // Whether the pattern names exactly this place (the comparison leaves out what lies below it).
  bool Matches(const std::vector<PathStep> &Path) const;
  const std::string &Text() const { return Source; }

 private:
  std::vector<PathStep> Steps;
  std::string Source;
};

// A place where the two documents differ, with each side's value as compact JSON, or "(absent)"
// where the key or element is missing on that side. Arrays that pair by position and differ in
// length give one entry for the array itself, with the values "length N", before the entries of
// the extra elements. In a keyed array (ArrayKeys.h) an element only one side holds is one entry
// of kind OnlyInLeft or OnlyInRight, named by its key.
struct ReportDifference {
  enum DifferenceKind { Changed, OnlyInLeft, OnlyInRight };
  std::string Path;
  std::string Left;
  std::string Right;
  DifferenceKind Kind = Changed;
  // The part of the report the place lies in: a boot's top-level member (boots[0].installed), or
  // a top-level member of the document outside the boots (machine); "(root)" for the document.
  std::string Section;
};

inline constexpr const char *kAbsentValue = "(absent)";

// Every difference between Left and Right outside the places Ignore names, in document order
// (object keys sorted).
std::vector<ReportDifference> DiffReports(const nlohmann::json &Left, const nlohmann::json &Right,
                                          const std::vector<PathPattern> &Ignore = {});

}  // namespace ccxsim

#endif  // TOOLS_REPORTDIFF_H_
