#include "sim/machine/JsonFields.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "sim/machine/FieldSources.h"

namespace sim {

bool ParseUnsigned(const std::string &Text, uint64_t &Value) {
  if (Text.empty() || Text[0] == '-' || Text[0] == '+' || Text[0] == ' ') return false;
  const bool Hex = Text.size() > 2 && Text[0] == '0' && (Text[1] == 'x' || Text[1] == 'X');
  const std::string Digits = Hex ? Text.substr(2) : Text;
  if (Digits.empty()) return false;
  for (char Character : Digits) {
    if (Hex ? !std::isxdigit(static_cast<unsigned char>(Character)) : !std::isdigit(static_cast<unsigned char>(Character)))
      return false;
  }
  errno = 0;
  char *End = nullptr;
  const unsigned long long Parsed = std::strtoull(Digits.c_str(), &End, Hex ? 16 : 10);
  if (errno == ERANGE || End == nullptr || *End != '\0') return false;
  Value = Parsed;
  return true;
}

JsonCursor JsonCursor::Child(const nlohmann::json &Value, std::string Path, const std::string &Key) const {
  JsonCursor Result(Value, Source_, std::move(Path));
  Result.Sources_ = Sources_;
  if (Sources_ != nullptr) Result.Pointer_ = FieldSources::Child(Pointer_, Key);
  return Result;
}

JsonCursor JsonCursor::Field(const std::string &Key) const {
  ExpectObject();
  if (!Value_.contains(Key)) Fail("missing field \"" + Key + "\"");
  return Child(Value_.at(Key), Path_.empty() ? Key : Path_ + "." + Key, Key);
}

JsonCursor JsonCursor::Element(size_t Index) const {
  ExpectArray();
  return Child(Value_.at(Index), Path_ + "[" + std::to_string(Index) + "]", std::to_string(Index));
}

void JsonCursor::OnlyKeys(std::initializer_list<const char *> Known) const {
  ExpectObject();
  for (const auto &[Key, Unused] : Value_.items()) {
    bool Found = false;
    for (const char *Candidate : Known) Found = Found || Key == Candidate;
    if (!Found) {
      std::ostringstream Message;
      Message << "unknown field \"" << Key << "\" (known here:";
      for (const char *Candidate : Known) Message << ' ' << Candidate;
      Message << ')';
      Child(Value_.at(Key), Path_.empty() ? Key : Path_ + "." + Key, Key).Fail(Message.str());
    }
  }
}

void JsonCursor::ExpectObject() const {
  if (!Value_.is_object()) Fail("expected an object, got " + Value_.dump());
}

void JsonCursor::ExpectArray() const {
  if (!Value_.is_array()) Fail("expected an array, got " + Value_.dump());
}

uint64_t JsonCursor::Unsigned(uint64_t Min, uint64_t Max) const {
  uint64_t Result = 0;
  bool Ok = false;
  if (Value_.is_number_unsigned()) {
    Result = Value_.get<uint64_t>();
    Ok = true;
  } else if (Value_.is_string()) {
    Ok = ParseUnsigned(Value_.get<std::string>(), Result);
  }
  std::ostringstream Range;
  Range << "an unsigned number";
  if (Min != 0 || Max != UINT64_MAX) Range << " from " << Min << " to " << Max;
  if (!Ok) Fail("expected " + Range.str() + " (decimal or \"0x\" hex string), got " + Value_.dump());
  if (Result < Min || Result > Max) Fail("expected " + Range.str() + ", got " + Value_.dump());
  return Result;
}

bool JsonCursor::Boolean() const {
  if (!Value_.is_boolean()) Fail("expected true or false, got " + Value_.dump());
  return Value_.get<bool>();
}

std::string JsonCursor::String() const {
  if (!Value_.is_string()) Fail("expected a string, got " + Value_.dump());
  return Value_.get<std::string>();
}

void NumberedKeys::Claim(const JsonCursor &Member, const std::string &Key, const std::string &Number) {
  const auto [Earlier, Fresh] = Spellings_.emplace(Number, Key);
  if (!Fresh) {
    Member.Fail("\"" + Earlier->second + "\" and \"" + Key + "\" are both " + Number +
                "; give each number once");
  }
}

std::string JsonCursor::Where() const {
  const std::string Source = Sources_ != nullptr ? Sources_->Describe(Pointer_) : Source_;
  return Source + ": " + (Path_.empty() ? std::string("(top level)") : Path_);
}

void JsonCursor::Fail(const std::string &What) const { throw MachineError(Where() + ": " + What); }

}  // namespace sim
