#include "sim/uefi/VariableStore.h"

#include <algorithm>
#include <cstring>

#include "sim/uefi/Ucs2.h"
#include "sim/uefi/VariableStoreFile.h"

namespace sim {

namespace {

constexpr uint32_t kAccessBits = EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;

uint64_t Footprint(const VariableKey &key, uint64_t dataSize) {
  return VariableStore::kHeaderBytes + (key.name.size() + 1) * sizeof(CHAR16) + dataSize;
}

bool IsNonVolatile(uint32_t attributes) { return (attributes & EFI_VARIABLE_NON_VOLATILE) != 0; }

}  // namespace

VariableStore::VariableStore(Diagnostics diagnostics, VariableLimits limits)
    : diagnostics_(std::move(diagnostics)), limits_(limits) {}

EFI_STATUS VariableStore::GetVariable(const CHAR16 *name, const EFI_GUID *guid, UINT32 *attributes, UINTN *dataSize,
                                      void *data) const {
  if (name == nullptr || guid == nullptr || dataSize == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::optional<std::u16string_view> text = ReadName(name);
  if (!text) {
    return EFI_INVALID_PARAMETER;
  }
  const Variable *variable = Find(*text, *guid);
  if (variable == nullptr) {
    return EFI_NOT_FOUND;
  }
  // The attributes come back with a too-small buffer as well, so that a caller sizing its buffer
  // learns them on the first call.
  if (*dataSize < variable->data.size()) {
    *dataSize = variable->data.size();
    if (attributes != nullptr) {
      *attributes = variable->attributes;
    }
    return EFI_BUFFER_TOO_SMALL;
  }
  if (data == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::memcpy(data, variable->data.data(), variable->data.size());
  *dataSize = variable->data.size();
  if (attributes != nullptr) {
    *attributes = variable->attributes;
  }
  return EFI_SUCCESS;
}

EFI_STATUS VariableStore::GetNextVariableName(UINTN *nameSize, CHAR16 *name, EFI_GUID *guid) const {
  if (nameSize == nullptr || name == nullptr || guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // The name given must be terminated within the buffer size the caller states.
  std::optional<size_t> length = Ucs2Length(name, *nameSize / sizeof(CHAR16));
  if (!length) {
    return EFI_INVALID_PARAMETER;
  }
  auto next = variables_.begin();
  if (*length != 0) {
    auto current = variables_.find(VariableKey{std::u16string(name, *length), *guid});
    if (current == variables_.end()) {
      return EFI_INVALID_PARAMETER;
    }
    next = std::next(current);
  }
  if (next == variables_.end()) {
    return EFI_NOT_FOUND;
  }
  const UINTN needed = (next->first.name.size() + 1) * sizeof(CHAR16);
  if (*nameSize < needed) {
    *nameSize = needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  std::copy(next->first.name.begin(), next->first.name.end(), name);
  name[next->first.name.size()] = 0;
  *guid = next->first.guid;
  *nameSize = needed;
  return EFI_SUCCESS;
}

EFI_STATUS VariableStore::SetVariable(const CHAR16 *name, const EFI_GUID *guid, UINT32 attributes, UINTN dataSize,
                                      const void *data) {
  if (name == nullptr || guid == nullptr || (dataSize != 0 && data == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  std::optional<std::u16string_view> text = ReadName(name);
  if (!text) {
    return EFI_INVALID_PARAMETER;
  }
  // A value larger than any variable may be is refused before it is copied.
  if (dataSize > limits_.maxVariableBytes) {
    return EFI_INVALID_PARAMETER;
  }
  return Set(*text, *guid, attributes, {static_cast<const uint8_t *>(data), dataSize});
}

EFI_STATUS VariableStore::QueryVariableInfo(UINT32 attributes, UINT64 *maximumStorage, UINT64 *remainingStorage,
                                            UINT64 *maximumVariable) const {
  if (maximumStorage == nullptr || remainingStorage == nullptr || maximumVariable == nullptr ||
      (attributes & kAccessBits) == 0) {
    return EFI_INVALID_PARAMETER;
  }
  if (EFI_STATUS status = CheckVariableAttributes(attributes); status != EFI_SUCCESS) {
    return status;
  }
  const bool nonVolatile = IsNonVolatile(attributes);
  *maximumStorage = Capacity(nonVolatile);
  *remainingStorage = Capacity(nonVolatile) - Used(nonVolatile);
  *maximumVariable = limits_.maxVariableBytes - kHeaderBytes;
  return EFI_SUCCESS;
}

EFI_STATUS VariableStore::Set(std::u16string_view name, const EFI_GUID &guid, uint32_t attributes,
                              std::span<const uint8_t> data) {
  if (name.empty() || name.find(u'\0') != std::u16string_view::npos) {
    return EFI_INVALID_PARAMETER;
  }
  if (EFI_STATUS status = CheckVariableAttributes(attributes); status != EFI_SUCCESS) {
    return status;
  }
  return Apply(VariableKey{std::u16string(name), guid}, attributes, data);
}

const Variable *VariableStore::Find(std::u16string_view name, const EFI_GUID &guid) const {
  auto it = variables_.find(VariableKey{std::u16string(name), guid});
  return it == variables_.end() ? nullptr : &it->second;
}

void VariableStore::AttachFile(const std::filesystem::path &path) {
  VariableMap loaded;
  std::error_code missing;
  if (std::filesystem::exists(path, missing)) {
    loaded = ReadVariableStoreFile(path);
  }
  CheckVariableStoreWritable(path);
  uint64_t total = 0;
  for (const auto &[key, variable] : loaded) {
    const uint64_t footprint = Footprint(key, variable.data.size());
    if (footprint > limits_.maxVariableBytes) {
      throw VariableStoreError("variable store '" + path.string() + "': variable '" + Ucs2ToUtf8(key.name) +
                               "' is larger than the largest variable the store takes");
    }
    total += footprint;
  }
  if (total > limits_.nonVolatileBytes) {
    throw VariableStoreError("variable store '" + path.string() + "': its variables need " + Hex(total) +
                             " bytes, more than the non-volatile store's " + Hex(limits_.nonVolatileBytes));
  }
  std::erase_if(variables_, [](const auto &entry) { return IsNonVolatile(entry.second.attributes); });
  variables_.merge(loaded);
  file_ = path;
}

void VariableStore::Save(const std::filesystem::path &path) const { WriteVariableStoreFile(path, NonVolatile()); }

EFI_STATUS VariableStore::Apply(const VariableKey &key, uint32_t attributes, std::span<const uint8_t> data) {
  auto it = variables_.find(key);
  const bool append = (attributes & EFI_VARIABLE_APPEND_WRITE) != 0;
  const uint32_t stored = attributes & ~EFI_VARIABLE_APPEND_WRITE;
  // Without any access attribute the request is a deletion, whatever data comes with it.
  if ((stored & kAccessBits) == 0) {
    return it == variables_.end() ? EFI_NOT_FOUND : Remove(it);
  }
  // An existing variable keeps its attributes; rewriting it with others changes nothing.
  if (it != variables_.end() && it->second.attributes != stored) {
    return EFI_INVALID_PARAMETER;
  }
  if (data.empty()) {
    if (append) {
      return EFI_SUCCESS;
    }
    return it == variables_.end() ? EFI_NOT_FOUND : Remove(it);
  }
  std::vector<uint8_t> value;
  if (append && it != variables_.end()) {
    value = it->second.data;
  }
  value.insert(value.end(), data.begin(), data.end());
  const uint64_t footprint = Footprint(key, value.size());
  if (footprint > limits_.maxVariableBytes) {
    return EFI_INVALID_PARAMETER;
  }
  const bool nonVolatile = IsNonVolatile(stored);
  const uint64_t replaced = it == variables_.end() ? 0 : Footprint(key, it->second.data.size());
  if (Used(nonVolatile) - replaced + footprint > Capacity(nonVolatile)) {
    return EFI_OUT_OF_RESOURCES;
  }
  std::optional<Variable> previous;
  if (it != variables_.end()) {
    previous = it->second;
  }
  variables_[key] = Variable{stored, std::move(value)};
  if (nonVolatile && !Persist()) {
    if (previous) {
      variables_[key] = *previous;
    } else {
      variables_.erase(key);
    }
    return EFI_DEVICE_ERROR;
  }
  return EFI_SUCCESS;
}

EFI_STATUS VariableStore::Remove(VariableMap::iterator it) {
  const auto removed = *it;
  variables_.erase(it);
  if (IsNonVolatile(removed.second.attributes) && !Persist()) {
    variables_.insert(removed);
    return EFI_DEVICE_ERROR;
  }
  return EFI_SUCCESS;
}

bool VariableStore::Persist() {
  if (!file_) {
    return true;
  }
  try {
    Save(*file_);
    return true;
  } catch (const VariableStoreError &error) {
    if (!writeFailure_) {
      writeFailure_ = error.what();
    }
    diagnostics_(std::string(error.what()) + "; the variable change is undone and reported as EFI_DEVICE_ERROR");
    return false;
  }
}

uint64_t VariableStore::Used(bool nonVolatile) const {
  uint64_t used = 0;
  for (const auto &[key, variable] : variables_) {
    if (IsNonVolatile(variable.attributes) == nonVolatile) {
      used += Footprint(key, variable.data.size());
    }
  }
  return used;
}

uint64_t VariableStore::Capacity(bool nonVolatile) const {
  return nonVolatile ? limits_.nonVolatileBytes : limits_.volatileBytes;
}

std::optional<std::u16string_view> VariableStore::ReadName(const CHAR16 *name) const {
  // No valid name is longer than the largest variable, so the terminator must come before that.
  std::optional<size_t> length = Ucs2Length(name, limits_.maxVariableBytes / sizeof(CHAR16));
  if (!length) {
    return std::nullopt;
  }
  return std::u16string_view(name, *length);
}

VariableMap VariableStore::NonVolatile() const {
  VariableMap selected;
  for (const auto &entry : variables_) {
    if (IsNonVolatile(entry.second.attributes)) {
      selected.insert(entry);
    }
  }
  return selected;
}

}  // namespace sim
