// Which file set each part of a machine description that extends others: for every member a
// file set as a whole (a number, a string, an array, or an object its base did not have) or
// removed, the JSON pointer of that member and the file. Errors in the merged description name the file that
// set the field they are about, so that a mistake in a base is not blamed on the file extending it.
#ifndef SIM_MACHINE_FIELD_SOURCES_H_
#define SIM_MACHINE_FIELD_SOURCES_H_

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace sim {

class FieldSources {
 public:
  // A document read as a whole from Source: every part of it comes from there.
  explicit FieldSources(const std::string &Source);

  // Records what applying Patch (a JSON Merge Patch read from Source) to Target changes; call it
  // before applying the patch, since it looks at which members Target already has. Json is
  // nlohmann::json or nlohmann::ordered_json.
  template <class Json>
  void RecordPatch(const Json &Target, const Json &Patch, const std::string &Source);

  // The file or files that set the value at Pointer or any part of it, the most derived first
  // ("two.json" or "two.json and built-in default machine").
  std::string Describe(const std::string &Pointer) const;

  // "/topology/overrides/0" from a parent pointer and a member name, escaped as RFC 6901 asks.
  static std::string Child(const std::string &Pointer, const std::string &Key);

 private:
  template <class Json>
  void RecordPatchAt(const Json *Target, const Json &Patch, const std::string &Pointer, size_t File);
  // Records File for the member at Pointer, and forgets what set the members below it.
  void Reassign(const std::string &Pointer, size_t File);
  size_t FileIndex(const std::string &Source);

  // Files in the order they were applied: the base first.
  std::vector<std::string> Files_;
  // The file that set each member as a whole; members below it came with it unless listed too.
  std::map<std::string, size_t> SetBy_;
};

}  // namespace sim

#endif  // SIM_MACHINE_FIELD_SOURCES_H_
