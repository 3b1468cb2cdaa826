// Ignore files for ccxsim diff: the patterns of --ignore, one a line, with comments, and the
// presets kept in the repository (data/*.ignore) and compiled in, such as the fields an image boot
// truly differs in from a host boot.
#ifndef TOOLS_IGNOREFILE_H_
#define TOOLS_IGNOREFILE_H_

#include <string>
#include <vector>

#include "tools/ReportDiff.h"

namespace ccxsim {

// A line holds one pattern (surrounding blanks are dropped); blank lines and lines whose first
// non-blank character is '#' are left out. Throws std::invalid_argument naming Source, the line
// number and what is wrong with the pattern.
std::vector<PathPattern> ParseIgnoreText(const std::string &Text, const std::string &Source);

// The patterns of the file at Path. Throws std::runtime_error when it cannot be read and
// std::invalid_argument for a bad pattern, each naming the file.
std::vector<PathPattern> LoadIgnoreFile(const std::string &Path);

struct DiffPreset {
  const char *Name;  // what --preset takes
  const char *File;  // where the text is kept in the repository
  const char *Text;
};

// Every preset, compiled in from its file.
const std::vector<DiffPreset> &DiffPresets();

}  // namespace ccxsim

#endif  // TOOLS_IGNOREFILE_H_
