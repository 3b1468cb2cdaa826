// The file that carries non-volatile variables from one simulated boot to the next.
//
// It is text, one variable per line, so that a person can read and edit it:
//
//   ccx-variable-store 1
//   # lines starting with '#' and blank lines are ignored
//   <GUID> <attributes> <name> <data>
//
// GUID is the registry form (8-4-4-4-12 hexadecimal digits); attributes are exactly 8
// hexadecimal digits; the name is written code unit by code unit, printable ASCII other than
// '%' as itself and every other unit as '%' and 4 hexadecimal digits; data is the value's bytes
// as pairs of hexadecimal digits, at least one byte. Fields are separated by blanks. Only
// non-volatile variables with boot-service access appear.
#ifndef SIM_UEFI_VARIABLE_STORE_FILE_H_
#define SIM_UEFI_VARIABLE_STORE_FILE_H_

#include <filesystem>
#include <stdexcept>

#include "sim/uefi/Variable.h"

namespace sim {

// A store file that can't be read, is malformed, or can't be written. The message names the
// file and, for a malformed one, the line and what is wrong with it.
class VariableStoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

VariableMap ReadVariableStoreFile(const std::filesystem::path &path);

// Writes a temporary file beside the target, flushes it to disk and renames it over the target,
// so that a crash while writing leaves the previous contents whole.
void WriteVariableStoreFile(const std::filesystem::path &path, const VariableMap &variables);

}  // namespace sim

#endif  // SIM_UEFI_VARIABLE_STORE_FILE_H_
