#include "tools/IgnoreFile.h"

#include <sstream>
#include <stdexcept>

#include "sim/files/InputFile.h"

namespace ccxsim {

std::vector<PathPattern> ParseIgnoreText(const std::string &Text, const std::string &Source) {
  std::vector<PathPattern> Patterns;
  std::istringstream Lines(Text);
  std::string Line;
  for (size_t Number = 1; std::getline(Lines, Line); Number++) {
    const size_t First = Line.find_first_not_of(" \t\r");
    if (First == std::string::npos || Line[First] == '#') continue;
    const size_t Last = Line.find_last_not_of(" \t\r");
    try {
      Patterns.push_back(PathPattern::Parse(Line.substr(First, Last - First + 1)));
    } catch (const std::invalid_argument &Problem) {
      throw std::invalid_argument(Source + ":" + std::to_string(Number) + ": " + Problem.what());
    }
  }
  return Patterns;
}

std::vector<PathPattern> LoadIgnoreFile(const std::string &Path) {
  return ParseIgnoreText(sim::ReadInputFile(Path, "ignore file", sim::kTextInputCap), Path);
}

}  // namespace ccxsim
