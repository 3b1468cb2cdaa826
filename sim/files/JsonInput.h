// The one way the simulator and its tools parse JSON a user gave them (machine descriptions, the
// cost model, reports to compare): strictly. Besides what JSON itself forbids, a document nested
// deeper than kJsonDepthCap and an object that names one key twice are refused, since every reader
// walks documents one call per level and a repeated key would silently lose one of its values.
// Errors name the source, the path of the value ("topology.overrides[2]") and what was wrong.
#ifndef SIM_FILES_JSON_INPUT_H_
#define SIM_FILES_JSON_INPUT_H_

#include <filesystem>
#include <string>

#include "sim/files/InputFile.h"

namespace sim {

// Levels of objects and arrays, the outermost one included; far deeper than any description or report.
inline constexpr size_t kJsonDepthCap = 64;

// The document is not JSON, or not JSON this reader takes. An InputFileError, so that a caller
// reading a file catches one kind of error whether the file or its content is refused.
class JsonInputError : public InputFileError {
 public:
  using InputFileError::InputFileError;
};

// Parses Text, named Source in errors. Json is nlohmann::json or nlohmann::ordered_json (members
// in the order the text wrote them). Throws JsonInputError.
template <class Json>
Json ParseJsonInput(const std::string &Text, const std::string &Source);

// Adds the member Key, which Object (a JSON object) does not have yet, and returns it. Unlike the
// library's insertion it does not look for Key first: an nlohmann::ordered_json object is a list
// that every insertion searches, which makes building an object of many members quadratic.
template <class Json>
Json &AppendNewMember(Json &Object, typename Json::string_t Key, Json &&Value);

// Reads the file at Path through ReadInputFile (What names the input, the cap is kTextInputCap)
// and parses it; errors about its content name it by its path. Throws InputFileError.
template <class Json>
Json ReadJsonInputFile(const std::filesystem::path &Path, const std::string &What);

}  // namespace sim

#endif  // SIM_FILES_JSON_INPUT_H_
