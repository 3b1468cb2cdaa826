#include "sim/uefi/VariableStoreFile.h"

#include <cstdio>
#include <sstream>

#include "sim/files/InputFile.h"
#include "sim/files/ReplaceFile.h"

namespace sim {

namespace {

constexpr const char *kHeader = "ccx-variable-store 2";
// Version 1 had no closing line; such a store is still read, and written back as version 2.
constexpr const char *kLegacyHeader = "ccx-variable-store 1";
constexpr const char *kEnd = "end";

std::string Describe(const std::filesystem::path &path) { return "variable store '" + path.string() + "'"; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

// Value of a fixed number of hex digits; nothing if any is not one.
std::optional<uint32_t> ParseHex(std::string_view text) {
  uint32_t value = 0;
  for (char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) {
      return std::nullopt;
    }
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  return value;
}

bool IsLiteralNameUnit(char16_t unit) { return unit > 0x20 && unit < 0x7F && unit != u'%'; }

std::string EncodeName(const std::u16string &name) {
  std::string text;
  for (char16_t unit : name) {
    if (IsLiteralNameUnit(unit)) {
      text += static_cast<char>(unit);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "%%%04X", static_cast<unsigned>(unit));
      text += escape;
    }
  }
  return text;
}

std::optional<std::u16string> DecodeName(std::string_view text) {
  std::u16string name;
  for (size_t index = 0; index < text.size(); index++) {
    if (text[index] != '%') {
      name += static_cast<char16_t>(static_cast<unsigned char>(text[index]));
      continue;
    }
    std::optional<uint32_t> unit = index + 4 < text.size() ? ParseHex(text.substr(index + 1, 4)) : std::nullopt;
    if (!unit || *unit == 0) {
      return std::nullopt;
    }
    name += static_cast<char16_t>(*unit);
    index += 4;
  }
  return name;
}

std::string EncodeData(const std::vector<uint8_t> &data) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t byte : data) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

std::optional<std::vector<uint8_t>> DecodeData(std::string_view text) {
  if (text.empty() || text.size() % 2 != 0) {
    return std::nullopt;
  }
  std::vector<uint8_t> data;
  for (size_t index = 0; index < text.size(); index += 2) {
    std::optional<uint32_t> byte = ParseHex(text.substr(index, 2));
    if (!byte) {
      return std::nullopt;
    }
    data.push_back(static_cast<uint8_t>(*byte));
  }
  return data;
}

// Parses one variable line; returns what is wrong with it, or an empty string.
std::string ParseLine(const std::string &line, VariableMap &variables) {
  std::istringstream fields(line);
  std::string guidText, attributesText, nameText, dataText, extra;
  fields >> guidText >> attributesText >> nameText >> dataText;
  if (dataText.empty() || (fields >> extra)) {
    return "expected 4 fields: GUID, attributes, name and data";
  }
  std::optional<EFI_GUID> guid = ParseGuid(guidText);
  if (!guid) {
    return "'" + guidText + "' is not a GUID";
  }
  std::optional<uint32_t> attributes = attributesText.size() == 8 ? ParseHex(attributesText) : std::nullopt;
  if (!attributes) {
    return "attributes '" + attributesText + "' are not 8 hexadecimal digits";
  }
  constexpr uint32_t kRequired = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS;
  if (CheckVariableAttributes(*attributes) != EFI_SUCCESS || (*attributes & kRequired) != kRequired ||
      (*attributes & EFI_VARIABLE_APPEND_WRITE) != 0) {
    return "attributes " + attributesText + " are not those of a stored non-volatile variable";
  }
  std::optional<std::u16string> name = DecodeName(nameText);
  if (!name) {
    return "name '" + nameText + "' has an escape that is not '%' and 4 hexadecimal digits of a non-zero unit";
  }
  std::optional<std::vector<uint8_t>> data = DecodeData(dataText);
  if (!data) {
    return "data is not a non-empty sequence of hexadecimal byte pairs";
  }
  if (!variables.emplace(VariableKey{*name, *guid}, Variable{*attributes, std::move(*data)}).second) {
    return "variable '" + nameText + "' of " + guidText + " appears a second time";
  }
  return {};
}

}  // namespace

VariableMap ReadVariableStoreFile(const std::filesystem::path &path) {
  std::string text;
  try {
    text = ReadInputFile(path, "variable store", kVariableStoreCap);
  } catch (const InputFileError &error) {
    throw VariableStoreError(error.what());
  }
  if (text.empty()) {
    throw VariableStoreError(Describe(path) + " is empty: expected the header '" + kHeader + "'");
  }
  VariableMap variables;
  bool legacy = false;  // a store written before stores ended with the line "end"
  bool ended = false;
  size_t number = 0;
  for (size_t start = 0; start < text.size();) {
    const size_t newline = text.find('\n', start);
    std::string line = text.substr(start, newline == std::string::npos ? std::string::npos : newline - start);
    start = newline == std::string::npos ? text.size() : newline + 1;
    number++;
    // A store edited where lines end in CR LF reads the same.
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (number == 1) {
      legacy = line == kLegacyHeader;
      if (line != kHeader && !legacy) {
        throw VariableStoreError(Describe(path) + " line 1: expected the header '" + kHeader + "'");
      }
      continue;
    }
    if (line.empty() || line[0] == '#') {
      continue;
    }
    if (ended) {
      throw VariableStoreError(Describe(path) + " line " + std::to_string(number) +
                               ": nothing but comments may follow the line '" + kEnd + "'");
    }
    if (!legacy && line == kEnd) {
      ended = true;
      continue;
    }
    if (std::string problem = ParseLine(line, variables); !problem.empty()) {
      throw VariableStoreError(Describe(path) + " line " + std::to_string(number) + ": " + problem);
    }
  }
  // A store cut short (a copy that stopped, a full disk) must not pass for one with fewer variables
  // or a shorter value: a complete one ends with the line "end".
  if (!legacy && !ended) {
    throw VariableStoreError(Describe(path) + " is truncated: it ends at line " + std::to_string(number) +
                             " without the line '" + kEnd + "' that closes a complete store");
  }
  if (legacy && text.back() != '\n') {
    throw VariableStoreError(Describe(path) + " is truncated: its last line (" + std::to_string(number) +
                             ") does not end with a newline");
  }
  return variables;
}

void CheckVariableStoreWritable(const std::filesystem::path &path) {
  try {
    CheckReplaceable(path);
  } catch (const ReplaceFileError &error) {
    throw VariableStoreError(Describe(path) + " cannot be written: " + error.what());
  }
}

void WriteVariableStoreFile(const std::filesystem::path &path, const VariableMap &variables) {
  std::string text = std::string(kHeader) + "\n";
  for (const auto &[key, variable] : variables) {
    char attributes[16];
    std::snprintf(attributes, sizeof(attributes), "%08X", variable.attributes);
    text +=
        GuidToString(key.guid) + " " + attributes + " " + EncodeName(key.name) + " " + EncodeData(variable.data) + "\n";
  }
  text += std::string(kEnd) + "\n";
  try {
    ReplaceFile(path, text);
  } catch (const ReplaceFileError &error) {
    throw VariableStoreError(Describe(path) + " cannot be written: " + error.what());
  }
}

}  // namespace sim
