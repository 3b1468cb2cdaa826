#include "sim/files/JsonInput.h"

#include <nlohmann/json.hpp>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <vector>

namespace sim {

template <class Json>
Json &AppendNewMember(Json &Object, typename Json::string_t Key, Json &&Value) {
  auto &Members = Object.template get_ref<typename Json::object_t &>();
  if constexpr (std::is_same_v<Json, nlohmann::ordered_json>) {
    // The list under the ordered map takes the member at its end, without the map's search.
    typename Json::object_t::Container &List = Members;
    List.emplace_back(std::move(Key), std::move(Value));
    return List.back().second;
  } else {
    return Members.emplace_hint(Members.end(), std::move(Key), std::move(Value))->second;
  }
}

namespace {

// Builds the document from the parser's events as the library's own builder does, but refuses a
// repeated key and a level too deep, and adds a member at the end of its object without looking
// for it there first: the library's ordered objects search themselves on every insertion, which
// makes reading an object of many members quadratic.
template <class Json>
class StrictBuilder {
 public:
  using number_integer_t = typename Json::number_integer_t;
  using number_unsigned_t = typename Json::number_unsigned_t;
  using number_float_t = typename Json::number_float_t;
  using string_t = typename Json::string_t;
  using binary_t = typename Json::binary_t;

  StrictBuilder(Json &Root, const std::string &Source) : Root_(Root), Source_(Source) {}

  bool null() { return Place(Json(nullptr)) != nullptr; }
  bool boolean(bool Value) { return Place(Json(Value)) != nullptr; }
  bool number_integer(number_integer_t Value) { return Place(Json(Value)) != nullptr; }
  bool number_unsigned(number_unsigned_t Value) { return Place(Json(Value)) != nullptr; }
  bool number_float(number_float_t Value, const string_t &) { return Place(Json(Value)) != nullptr; }
  bool string(string_t &Value) { return Place(Json(std::move(Value))) != nullptr; }
  bool binary(binary_t &Value) { return Place(Json::binary(std::move(Value))) != nullptr; }
  bool start_object(std::size_t) { return Open(Json::object()); }
  bool start_array(std::size_t) { return Open(Json::array()); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }

  bool key(string_t &Key) {
    Level &Object = Levels_.back();
    if (!Object.Keys.insert(Key).second) {
      Fail(PathOf(Levels_.size() - 1, false), "the key " + Json(Key).dump() + " appears twice in this object");
    }
    Object.Key = std::move(Key);
    return true;
  }

  bool parse_error(std::size_t, const std::string &, const nlohmann::detail::exception &Error) {
    // Syntax errors, with their line and column, and numbers too large for any JSON number alike.
    throw JsonInputError(Source_ + ": not valid JSON: " + Error.what());
  }

 private:
  struct Level {
    Json *Value;
    std::unordered_set<string_t> Keys;
    // The member whose value comes next.
    string_t Key;
  };

  // As errors show it ("topology.overrides[2]"): the path of the value that the first Depth open
  // levels lead to, which is the open value of the last of them or, with Next, the value that comes
  // next in it. Built only for an error, so that reading a level costs nothing more.
  std::string PathOf(size_t Depth, bool Next) const {
    std::string Path;
    for (size_t Index = 0; Index < Depth; Index++) {
      const Level &Holder = Levels_[Index];
      if (Holder.Value->is_array()) {
        // The open value is the array's last element; the next one goes after it.
        const bool Coming = Next && Index + 1 == Depth;
        Path += "[" + std::to_string(Holder.Value->size() - (Coming ? 0 : 1)) + "]";
      } else {
        Path += (Path.empty() ? "" : ".") + Holder.Key;
      }
    }
    return Path;
  }

  [[noreturn]] void Fail(const std::string &Path, const std::string &What) const {
    throw JsonInputError(Source_ + ": " + (Path.empty() ? std::string("(top level)") : Path) + ": " + What);
  }

  bool Open(Json &&Empty) {
    if (Levels_.size() >= kJsonDepthCap) {
      Fail(PathOf(Levels_.size(), true),
           "nested deeper than " + std::to_string(kJsonDepthCap) + " levels of objects and arrays");
    }
    Json *Placed = Place(std::move(Empty));
    Levels_.push_back({Placed, {}, {}});
    return true;
  }

  bool Close() {
    Levels_.pop_back();
    return true;
  }

  // Puts Value where the document is at and returns where it went. An open object or array
  // gains no other member while a member is open, so the pointers held to open levels stay valid.
  Json *Place(Json &&Value) {
    if (Levels_.empty()) {
      Root_ = std::move(Value);
      return &Root_;
    }
    Level &Holder = Levels_.back();
    if (Holder.Value->is_array()) {
      auto &Array = Holder.Value->template get_ref<typename Json::array_t &>();
      Array.push_back(std::move(Value));
      return &Array.back();
    }
    // The key is new: key() refused it otherwise. It stays with the level too, for the paths of errors.
    return &AppendNewMember(*Holder.Value, Holder.Key, std::move(Value));
  }

  Json &Root_;
  const std::string &Source_;
  std::vector<Level> Levels_;
};

}  // namespace

template <class Json>
Json ParseJsonInput(const std::string &Text, const std::string &Source) {
  Json Document;
  StrictBuilder<Json> Builder(Document, Source);
  if (!Json::sax_parse(Text, &Builder)) throw JsonInputError(Source + ": not valid JSON");
  return Document;
}

template <class Json>
Json ReadJsonInputFile(const std::filesystem::path &Path, const std::string &What) {
  return ParseJsonInput<Json>(ReadInputFile(Path, What, kTextInputCap), Path.string());
}

template nlohmann::json &AppendNewMember(nlohmann::json &, std::string, nlohmann::json &&);
template nlohmann::ordered_json &AppendNewMember(nlohmann::ordered_json &, std::string, nlohmann::ordered_json &&);
template nlohmann::json ParseJsonInput(const std::string &, const std::string &);
template nlohmann::ordered_json ParseJsonInput(const std::string &, const std::string &);
template nlohmann::json ReadJsonInputFile(const std::filesystem::path &, const std::string &);
template nlohmann::ordered_json ReadJsonInputFile(const std::filesystem::path &, const std::string &);

}  // namespace sim
