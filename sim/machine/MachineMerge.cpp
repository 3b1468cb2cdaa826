#include "sim/machine/MachineMerge.h"

#include <fstream>
#include <sstream>
#include <vector>

#include "sim/machine/JsonFields.h"
#include "sim/machine/Machine.h"

namespace sim {
namespace {

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
  std::error_code Ignored;
  std::ifstream Stream;
  if (std::filesystem::is_regular_file(File, Ignored)) Stream.open(File);
  if (!Stream.is_open())
    ExtendsError(Source, "cannot open the description \"" + Base + "\" (looked for " + File.string() + ")");
  std::ostringstream Contents;
  Contents << Stream.rdbuf();
  Chain.push_back(Link);
  MergedDescription<Json> Result = Merge<Json>(Contents.str(), Link.Name, DirectoryOf(File), Chain);
  Chain.pop_back();
  return Result;
}

template <class Json>
MergedDescription<Json> Merge(const std::string &Text, const std::string &Source,
                              const std::optional<std::filesystem::path> &BaseDirectory,
                              std::vector<ChainLink> &Chain) {
  Json Patch;
  try {
    Patch = Json::parse(Text);
  } catch (const nlohmann::json::exception &Error) {
    // Syntax errors and numbers too large for any JSON number (1e4000) alike.
    throw MachineError(Source + ": not valid JSON: " + Error.what());
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
  Merged.Document.merge_patch(Patch);
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
  std::ifstream Stream(Path);
  if (!Stream) throw MachineError(Path + ": cannot open the machine description");
  std::ostringstream Contents;
  Contents << Stream.rdbuf();
  std::vector<ChainLink> Chain = {{Path, Identity(Path)}};
  return Merge<Json>(Contents.str(), Path, DirectoryOf(Path), Chain);
}

template MergedDescription<nlohmann::json> MergeDescription(const std::string &, const std::string &,
                                                            const std::optional<std::filesystem::path> &);
template MergedDescription<nlohmann::json> MergeDescriptionFile(const std::string &);
template MergedDescription<nlohmann::ordered_json> MergeDescriptionFile(const std::string &);

}  // namespace sim
