// The one way the simulator and its tools read a file a user named: it must be a regular file
// (a FIFO, a device such as /dev/zero or a folder is refused before a byte is read) no larger than
// the cap its kind of input has. Errors name the file, what it was read as, and the limit.
#ifndef SIM_FILES_INPUT_FILE_H_
#define SIM_FILES_INPUT_FILE_H_

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace sim {

// Caps by kind of input, well above anything real: a machine description, cost model, report or
// ignore list is text a person wrote or a run printed; an image is a driver of a few hundred KiB;
// a variable store holds a few dozen variables; a table is a few KiB.
inline constexpr uint64_t kTextInputCap = uint64_t(64) << 20;
inline constexpr uint64_t kImageInputCap = uint64_t(64) << 20;
inline constexpr uint64_t kVariableStoreCap = uint64_t(16) << 20;
// An ACPI or SMBIOS table a run wrote: a few KiB.
inline constexpr uint64_t kTableInputCap = uint64_t(16) << 20;

class InputFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The whole content of Path. What names the input in errors ("machine description", "image").
// Throws InputFileError when the file is missing, unreadable, not a regular file or over Cap.
std::string ReadInputFile(const std::filesystem::path &Path, const std::string &What, uint64_t Cap);

}  // namespace sim

#endif  // SIM_FILES_INPUT_FILE_H_
