#include "sim/machine/MachineMerge.h"

#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sim/files/JsonInput.h"
#include "sim/machine/JsonFields.h"
#include "sim/machine/Machine.h"

namespace sim {
namespace {

// Files on the way from the description read down to its deepest base, that description
// included: far more than a family of descriptions needs, and each level of it is a level of
// recursion here.
constexpr size_t kMaxExtendsChain = 32;
constexpr const char *kWhat = "machine description";

// A file on the way from the description being read down to the base being read now: its name
// as errors give it, and the file it is whatever path led to it.
struct ChainLink {
  std::string Name;
  std::filesystem::path Identity;
};

[[noreturn]] void ExtendsError(const std::string &Source, const std::string &What) {
  throw MachineError(Source + ": extends: " + What);
}

std::filesystem::path Identity(const std::filesystem::path &File) {
  std::error_code Ignored;
  const std::filesystem::path Canonical = std::filesystem::weakly_canonical(File, Ignored);
  return Canonical.empty() ? std::filesystem::absolute(File).lexically_normal() : Canonical;
}

std::filesystem::path DirectoryOf(const std::filesystem::path &File) {
  return File.has_parent_path() ? File.parent_path() : std::filesystem::path(".");
}

template <class Json>
MergedDescription<Json> Merge(const std::string &Text, const std::string &Source,
                              const std::optional<std::filesystem::path> &BaseDirectory, std::vector<ChainLink> &Chain);

template <class Json>
MergedDescription<Json> MergeBaseFile(const std::string &Base, const std::string &Source,
                                      const std::filesystem::path &BaseDirectory, std::vector<ChainLink> &Chain) {
  const std::filesystem::path File = (BaseDirectory / Base).lexically_normal();
  const ChainLink Link = {File.string(), Identity(File)};
  for (size_t Index = 0; Index < Chain.size(); Index++) {
    if (Chain[Index].Identity != Link.Identity) continue;
    std::string Circle;
    for (size_t Member = Index; Member < Chain.size(); Member++) Circle += Chain[Member].Name + " -> ";
    ExtendsError(Source, "the descriptions extend each other in a circle: " + Circle + Link.Name);
  }
  if (Chain.size() >= kMaxExtendsChain) {
    ExtendsError(Source, "\"" + Base + "\" would make a chain of more than " + std::to_string(kMaxExtendsChain) +
                             " description files, starting at " + Chain.front().Name);
  }
  std::string Contents;
  try {
    Contents = ReadInputFile(File, kWhat, kTextInputCap);
  } catch (const InputFileError &Error) {
    ExtendsError(Source, "cannot open the description \"" + Base + "\": " + Error.what());
  }
  Chain.push_back(Link);
  MergedDescription<Json> Result = Merge<Json>(Contents, Link.Name, DirectoryOf(File), Chain);
  Chain.pop_back();
  return Result;
}

// Applies Patch to Target as RFC 7386 has it, as the library's merge_patch does: Target's members
// keep their order, new ones come at the end. Each object is indexed once, where the library's
// ordered objects are searched for every member of the patch.
template <class Json>
void ApplyPatch(Json &Target, Json &&Patch) {
  if (!Patch.is_object()) {
    Target = std::move(Patch);
    return;
  }
  auto &Changes = Patch.template get_ref<typename Json::object_t &>();
  std::unordered_map<std::string_view, Json *> ByKey;
  ByKey.reserve(Changes.size());
  for (auto &[Key, Change] : Changes) ByKey.emplace(Key, &Change);
  Json Result = Json::object();
  if (Target.is_object()) {
    for (auto &[Key, Value] : Target.template get_ref<typename Json::object_t &>()) {
      const auto Found = ByKey.find(Key);
      if (Found == ByKey.end()) {
        AppendNewMember(Result, Key, std::move(Value));
        continue;
      }
      Json *Change = std::exchange(Found->second, nullptr);
      if (Change->is_null()) continue;  // removed
      ApplyPatch(Value, std::move(*Change));
      AppendNewMember(Result, Key, std::move(Value));
    }
  }
  for (auto &[Key, Change] : Changes) {
    // Members the target had are done; a null for a member it lacks removes nothing.
    if (ByKey.at(Key) == nullptr || Change.is_null()) continue;
    Json Added;
    ApplyPatch(Added, std::move(Change));
    AppendNewMember(Result, Key, std::move(Added));
  }
  Target = std::move(Result);
}

template <class Json>
MergedDescription<Json> Merge(const std::string &Text, const std::string &Source,
                              const std::optional<std::filesystem::path> &BaseDirectory,
                              std::vector<ChainLink> &Chain) {
  Json Patch;
  try {
    Patch = ParseJsonInput<Json>(Text, Source);
  } catch (const JsonInputError &Error) {
    throw MachineError(Error.what());
  }
  if (!Patch.is_object() || !Patch.contains("extends")) return {std::move(Patch), FieldSources(Source)};

  const Json &Extends = Patch.at("extends");
  const std::string *Named = Extends.template get_ptr<const std::string *>();
  if (Named == nullptr || Named->empty()) {
    ExtendsError(Source, std::string("expected \"") + kDefaultBaseName +
                             "\" or the path of a description relative to this one, got " + Extends.dump());
  }
  const std::string Base = *Named;
  MergedDescription<Json> Merged = [&] {
    if (Base == kDefaultBaseName) return Merge<Json>(DefaultMachineText(), kDefaultMachineSource, std::nullopt, Chain);
    if (!BaseDirectory) {
      ExtendsError(Source, "\"" + Base + "\" names a file, and a description read from memory may only extend \"" +
                               kDefaultBaseName + "\"");
    }
    return MergeBaseFile<Json>(Base, Source, *BaseDirectory, Chain);
  }();
  Patch.erase("extends");
  Merged.Sources.RecordPatch(Merged.Document, Patch, Source);
  ApplyPatch(Merged.Document, std::move(Patch));
  return Merged;
}

}  // namespace

template <class Json>
MergedDescription<Json> MergeDescription(const std::string &Text, const std::string &Source,
                                         const std::optional<std::filesystem::path> &BaseDirectory) {
  std::vector<ChainLink> Chain;
  return Merge<Json>(Text, Source, BaseDirectory, Chain);
}

template <class Json>
MergedDescription<Json> MergeDescriptionFile(const std::string &Path) {
  std::string Contents;
  try {
    Contents = ReadInputFile(Path, kWhat, kTextInputCap);
  } catch (const InputFileError &Error) {
    throw MachineError(Error.what());
  }
  std::vector<ChainLink> Chain = {{Path, Identity(Path)}};
  return Merge<Json>(Contents, Path, DirectoryOf(Path), Chain);
}

template MergedDescription<nlohmann::json> MergeDescription(const std::string &, const std::string &,
                                                            const std::optional<std::filesystem::path> &);
template MergedDescription<nlohmann::json> MergeDescriptionFile(const std::string &);
template MergedDescription<nlohmann::ordered_json> MergeDescriptionFile(const std::string &);

}  // namespace sim
