#include "sim/machine/FieldSources.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

namespace sim {
namespace {

bool StartsWith(const std::string &Text, const std::string &Prefix) {
  return Text.compare(0, Prefix.size(), Prefix) == 0;
}

}  // namespace

FieldSources::FieldSources(const std::string &Source) {
  Files_.push_back(Source);
  SetBy_[""] = 0;
}

std::string FieldSources::Child(const std::string &Pointer, const std::string &Key) {
  std::string Escaped;
  for (char Character : Key) {
    if (Character == '~') {
      Escaped += "~0";
    } else if (Character == '/') {
      Escaped += "~1";
    } else {
      Escaped += Character;
    }
  }
  return Pointer + "/" + Escaped;
}

size_t FieldSources::FileIndex(const std::string &Source) {
  auto Found = std::find(Files_.begin(), Files_.end(), Source);
  if (Found != Files_.end()) return size_t(Found - Files_.begin());
  Files_.push_back(Source);
  return Files_.size() - 1;
}

void FieldSources::Reassign(const std::string &Pointer, size_t File) {
  const std::string Below = Pointer + "/";
  for (auto It = SetBy_.lower_bound(Below); It != SetBy_.end() && StartsWith(It->first, Below);) It = SetBy_.erase(It);
  SetBy_[Pointer] = File;
}

template <class Json>
void FieldSources::RecordPatch(const Json &Target, const Json &Patch, const std::string &Source) {
  RecordPatchAt(&Target, Patch, "", FileIndex(Source));
}

// Follows RFC 7386: an object patches an object member by member, a null removes the member, and
// anything else (an array included) replaces the target whole.
template <class Json>
void FieldSources::RecordPatchAt(const Json *Target, const Json &Patch, const std::string &Pointer, size_t File) {
  if (!Patch.is_object() || Target == nullptr || !Target->is_object()) {
    Reassign(Pointer, File);
    return;
  }
  // Indexed once: an ordered object would be searched member by member for every key of the patch.
  std::unordered_map<std::string_view, const Json *> Members;
  Members.reserve(Target->size());
  for (const auto &[Key, Value] : Target->template get_ref<const typename Json::object_t &>()) {
    Members.emplace(Key, &Value);
  }
  for (const auto &[Key, Value] : Patch.items()) {
    const std::string Member = Child(Pointer, Key);
    if (Value.is_null()) {
      // A removal is recorded too, so that an error about the missing member names this file.
      Reassign(Member, File);
      continue;
    }
    const auto Found = Members.find(Key);
    RecordPatchAt(Found == Members.end() ? nullptr : Found->second, Value, Member, File);
  }
}

std::string FieldSources::Describe(const std::string &Pointer) const {
  std::vector<size_t> Setters;
  // The member that holds this value, set as a whole...
  for (std::string Holder = Pointer;; Holder = Holder.substr(0, Holder.rfind('/'))) {
    auto Found = SetBy_.find(Holder);
    if (Found != SetBy_.end()) {
      Setters.push_back(Found->second);
      break;
    }
    if (Holder.empty()) break;
  }
  // ...and the members below it that other files changed.
  const std::string Below = Pointer + "/";
  for (auto It = SetBy_.lower_bound(Below); It != SetBy_.end() && StartsWith(It->first, Below); ++It) {
    Setters.push_back(It->second);
  }
  std::sort(Setters.begin(), Setters.end(), std::greater<size_t>());
  Setters.erase(std::unique(Setters.begin(), Setters.end()), Setters.end());
  std::string Text;
  for (size_t Index = 0; Index < Setters.size(); Index++) {
    if (Index > 0) Text += Index + 1 == Setters.size() ? " and " : ", ";
    Text += Files_[Setters[Index]];
  }
  return Text;
}

template void FieldSources::RecordPatch(const nlohmann::json &, const nlohmann::json &, const std::string &);
template void FieldSources::RecordPatch(const nlohmann::ordered_json &, const nlohmann::ordered_json &,
                                        const std::string &);

}  // namespace sim
