// The file that carries non-volatile variables from one simulated boot to the next.
//
// It is text, one variable per line, so that a person can read and edit it:
//
//   ccx-variable-store 2
//   # lines starting with '#' and blank lines are ignored
//   <GUID> <attributes> <name> <data>
//   end
//
// GUID is the registry form (8-4-4-4-12 hexadecimal digits); attributes are exactly 8
// hexadecimal digits; the name is written code unit by code unit, printable ASCII other than
// '%' as itself and every other unit as '%' and 4 hexadecimal digits; data is the value's bytes
// as pairs of hexadecimal digits, at least one byte. Fields are separated by blanks. Only
// non-volatile variables with boot-service access appear. The line "end" closes the store, so
// that a file cut short is refused rather than read as a store with fewer variables; only
// comments may follow it. A version 1 store, which had no such line, is still read (its last line
// must end with a newline) and is written back as version 2.
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

// Reads the file as an input a user named (a regular file under kVariableStoreCap: a FIFO or
// /dev/zero is refused before a byte is read).
VariableMap ReadVariableStoreFile(const std::filesystem::path &path);

// Throws unless the store can be written: the file is absent or a regular file that is not
// read-only, and a temporary file can be created in its folder.
void CheckVariableStoreWritable(const std::filesystem::path &path);

// Writes a temporary file of a unique name beside the target, flushes it to disk and renames it
// over the target (sim::ReplaceFile), so that a crash while writing leaves the previous contents
// whole and nothing lying at a temporary name is ever followed.
void WriteVariableStoreFile(const std::filesystem::path &path, const VariableMap &variables);

}  // namespace sim

#endif  // SIM_UEFI_VARIABLE_STORE_FILE_H_
