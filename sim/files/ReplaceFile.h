// The one way a run replaces a file it writes whole (the variable store, report.json, a table):
// the new content goes to a temporary file of a name no one else can have taken, created
// exclusively beside the target (a symbolic link or anything else already lying at a temporary
// name is never followed nor touched), flushed to disk and renamed over the target, so that a
// reader sees the old file or the new one and never a part of either. The temporary is removed on
// every path that fails.
#ifndef SIM_FILES_REPLACE_FILE_H_
#define SIM_FILES_REPLACE_FILE_H_

#include <filesystem>
#include <stdexcept>
#include <string_view>

namespace sim {

// A file that cannot be replaced. The message says what is wrong with it or could not be done, and
// why, naming any other file involved (the temporary, the folder); the caller names the file.
class ReplaceFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws ReplaceFileError unless Path can be replaced: what lies there now must be a regular file
// that is not read-only (or nothing at all), and a temporary file can be created in its folder
// (the folder exists and may be written). A file marked read-only is refused even where the
// process could write it (as root): read-only means the user wants it kept. A symbolic link is
// refused too: renaming over it would replace the link and leave the file it names unchanged.
void CheckReplaceable(const std::filesystem::path &Path);

// Replaces Path with Bytes as described above (after the same checks as CheckReplaceable); an
// existing file's permissions carry over to the new one. Throws ReplaceFileError.
void ReplaceFile(const std::filesystem::path &Path, std::string_view Bytes);

}  // namespace sim

#endif  // SIM_FILES_REPLACE_FILE_H_
