// Machine descriptions that say only what differs: "extends" names the description a file is
// applied over, as a JSON Merge Patch (RFC 7386): "default" for the built-in machine, or a file
// relative to the one that names it. Bases may extend further bases.
#ifndef SIM_MACHINE_MACHINE_MERGE_H_
#define SIM_MACHINE_MACHINE_MERGE_H_

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "sim/machine/FieldSources.h"

namespace sim {

// The name a description gives to extend the built-in default machine, and the name errors give it.
inline constexpr const char *kDefaultBaseName = "default";
inline constexpr const char *kDefaultMachineSource = "built-in default machine";

// A description with its bases applied under it, without "extends". Json is nlohmann::json, or
// nlohmann::ordered_json to keep the members in the order the files wrote them (for printing; its
// objects find members by a linear search).
template <class Json>
struct MergedDescription {
  Json Document;
  FieldSources Sources;
};

// Reads the description Text, named Source in errors. A base other than "default" is a file
// relative to BaseDirectory; without one (a description read from memory) only "default" may be
// extended, so that no file is read on the say-so of text from elsewhere. Throws MachineError.
template <class Json>
MergedDescription<Json> MergeDescription(const std::string &Text, const std::string &Source,
                                         const std::optional<std::filesystem::path> &BaseDirectory);
// Reads the description file at Path; its bases are relative to its directory.
template <class Json>
MergedDescription<Json> MergeDescriptionFile(const std::string &Path);

}  // namespace sim

#endif  // SIM_MACHINE_MACHINE_MERGE_H_
