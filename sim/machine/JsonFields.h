// Strict reading of a JSON machine description: every value is read through a cursor that knows
// its path ("topology.overrides[2].cores"), numbers may be written as decimal or as "0x..." hex
// strings, and an object's keys are checked against the ones its reader knows, so that a misspelt
// key is an error rather than silently ignored.
#ifndef SIM_MACHINE_JSON_FIELDS_H_
#define SIM_MACHINE_JSON_FIELDS_H_

#include <cstdint>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace sim {

// A description that can't be used: the message names the file, the field path and what was wrong.
class MachineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class FieldSources;

class JsonCursor {
 public:
  JsonCursor(const nlohmann::json &Value, std::string Source, std::string Path)
      : Value_(Value), Source_(std::move(Source)), Path_(std::move(Path)) {}
  // The top of a description merged from several files: errors name the file that set the field.
  JsonCursor(const nlohmann::json &Value, const FieldSources &Sources) : Value_(Value), Sources_(&Sources) {}

  const nlohmann::json &Value() const { return Value_; }
  const std::string &Path() const { return Path_; }

  bool Has(const std::string &Key) const { return Value_.is_object() && Value_.contains(Key); }
  JsonCursor Field(const std::string &Key) const;
  JsonCursor Element(size_t Index) const;

  // Refuses keys other than the listed ones.
  void OnlyKeys(std::initializer_list<const char *> Known) const;
  void ExpectObject() const;
  void ExpectArray() const;

  // An unsigned number (JSON integer or "0x"/decimal string) within [Min, Max].
  uint64_t Unsigned(uint64_t Min = 0, uint64_t Max = UINT64_MAX) const;
  bool Boolean() const;
  std::string String() const;

  // An error at this cursor's path: "<source>: <path>: <what>".
  [[noreturn]] void Fail(const std::string &What) const;
  // "<source>: <path>", as an error about another field names this one.
  std::string Where() const;

 private:
  // The cursor of a member or element: Path as errors show it, Key as the JSON pointer has it.
  JsonCursor Child(const nlohmann::json &Value, std::string Path, const std::string &Key) const;

  const nlohmann::json &Value_;
  std::string Source_;
  std::string Path_;
  // With a merged description: who set what, and this value's JSON pointer to look it up by.
  const FieldSources *Sources_ = nullptr;
  std::string Pointer_;
};

// Parses a number written in JSON text as decimal or "0x" hex; false when it is not one.
bool ParseUnsigned(const std::string &Text, uint64_t &Value);

// The numbers the keys of one object stand for ("0xC0010058", or "0x8000001D.3"), so that one
// number written two ways ("0xc0010058" and "0xC0010058", "27" and "0x1B") is refused rather than
// one of its values silently lost.
class NumberedKeys {
 public:
  // Claims Number (as the reader writes it) for the member Key at Member; fails there when another
  // key of the object stands for it already.
  void Claim(const JsonCursor &Member, const std::string &Key, const std::string &Number);

 private:
  std::unordered_map<std::string, std::string> Spellings_;
};

}  // namespace sim

#endif  // SIM_MACHINE_JSON_FIELDS_H_
