// The variable services behind GetVariable, SetVariable, GetNextVariableName and
// QueryVariableInfo, with non-volatile variables kept in a file between simulated boots.
#ifndef SIM_UEFI_VARIABLE_STORE_H_
#define SIM_UEFI_VARIABLE_STORE_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sim/uefi/Diagnostics.h"
#include "sim/uefi/Variable.h"

namespace sim {

// Space of the two stores and the largest single variable, each variable counted as a fixed
// header, the name with its terminator and the data, as flash-backed stores account for it.
struct VariableLimits {
  uint64_t nonVolatileBytes = 0x40000;
  uint64_t volatileBytes = 0x40000;
  uint64_t maxVariableBytes = 0x8000;
};

class VariableStore {
 public:
  static constexpr uint64_t kHeaderBytes = 32;

  explicit VariableStore(Diagnostics diagnostics, VariableLimits limits = {});
  VariableStore(const VariableStore &) = delete;
  VariableStore &operator=(const VariableStore &) = delete;

  EFI_STATUS GetVariable(const CHAR16 *name, const EFI_GUID *guid, UINT32 *attributes, UINTN *dataSize,
                         void *data) const;
  EFI_STATUS GetNextVariableName(UINTN *nameSize, CHAR16 *name, EFI_GUID *guid) const;
  EFI_STATUS SetVariable(const CHAR16 *name, const EFI_GUID *guid, UINT32 attributes, UINTN dataSize, const void *data);
  EFI_STATUS QueryVariableInfo(UINT32 attributes, UINT64 *maximumStorage, UINT64 *remainingStorage,
                               UINT64 *maximumVariable) const;

  // SetVariable for the rest of the simulator (a machine file that seeds variables).
  EFI_STATUS Set(std::u16string_view name, const EFI_GUID &guid, uint32_t attributes, std::span<const uint8_t> data);
  const Variable *Find(std::u16string_view name, const EFI_GUID &guid) const;
  const VariableMap &All() const { return variables_; }

  // Loads the non-volatile variables from the file when it exists (throws VariableStoreError for
  // a file that is malformed or too large for the limits, and for one that cannot be written, so
  // that the driver never runs on a store that would undo its changes), and from then on writes
  // the file after every change to a non-volatile variable, so that a boot that ends abruptly, by
  // ResetSystem for instance, keeps everything that SetVariable reported as stored.
  void AttachFile(const std::filesystem::path &path);
  void Save(const std::filesystem::path &path) const;
  // Why the attached file could not be written, the first time a change could not be kept (the
  // change was undone and its caller answered EFI_DEVICE_ERROR); nothing while every write worked.
  const std::optional<std::string> &WriteFailure() const { return writeFailure_; }

 private:
  EFI_STATUS Apply(const VariableKey &key, uint32_t attributes, std::span<const uint8_t> data);
  EFI_STATUS Remove(VariableMap::iterator it);
  // Writes the attached file after a change; false (with a diagnostic) if that failed.
  bool Persist();
  uint64_t Used(bool nonVolatile) const;
  uint64_t Capacity(bool nonVolatile) const;
  std::optional<std::u16string_view> ReadName(const CHAR16 *name) const;
  VariableMap NonVolatile() const;

  Diagnostics diagnostics_;
  VariableLimits limits_;
  VariableMap variables_;
  std::optional<std::filesystem::path> file_;
  std::optional<std::string> writeFailure_;
};

}  // namespace sim

#endif  // SIM_UEFI_VARIABLE_STORE_H_
