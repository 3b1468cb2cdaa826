#include "tools/DiffCommand.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "tools/ReportDiff.h"

namespace ccxsim {

const char *const kDiffUsage =
    "usage: ccxsim diff [--ignore PATTERN]... A.json B.json\n"
    "  compares two reports field by field and prints each difference as PATH: A-VALUE != B-VALUE\n"
    "  --ignore PATTERN  leave out the field PATTERN names and everything below it; * stands for any one\n"
    "                    key and [*] for any one index, e.g. --ignore 'boots[*].hardware_accesses'\n"
    "  exit status: 0 the reports agree, 1 they differ, 2 a usage error or a file that cannot be read\n";

namespace {

// Far deeper than any report. The comparison and the printing of values go down one call per
// level, so a document nested deeper is refused rather than allowed to exhaust the stack.
constexpr int kMaxDepth = 512;

// Throws std::runtime_error naming the file and what is wrong with it.
nlohmann::json LoadJsonFile(const std::string &Path) {
  std::error_code Ignored;
  if (std::filesystem::is_directory(Path, Ignored)) throw std::runtime_error(Path + ": is a directory, not a report");
  std::ifstream File(Path, std::ios::binary);
  if (!File) throw std::runtime_error(Path + ": cannot be opened: " + std::strerror(errno));
  std::ostringstream Text;
  Text << File.rdbuf();
  if (File.bad()) throw std::runtime_error(Path + ": cannot be read");
  try {
    return nlohmann::json::parse(Text.str(), [&Path](int Depth, nlohmann::json::parse_event_t, nlohmann::json &) {
      if (Depth >= kMaxDepth) {  // Depth counts from 0 at the outermost value.
        throw std::runtime_error(Path + ": nested deeper than " + std::to_string(kMaxDepth) + " levels");
      }
      return true;
    });
  } catch (const nlohmann::json::exception &Problem) {
    // Syntax errors (with their line and column) and numbers too large for any JSON number alike.
    throw std::runtime_error(Path + ": not valid JSON: " + Problem.what());
  }
}

}  // namespace

int RunDiffCommand(const std::vector<std::string> &Arguments, std::ostream &Out, std::ostream &Err) {
  auto UsageError = [&Err](const std::string &What) {
    Err << "ccxsim: " << What << "\n" << kDiffUsage;
    return 2;
  };
  std::vector<PathPattern> Ignore;
  std::vector<std::string> Files;
  for (size_t Index = 0; Index < Arguments.size(); Index++) {
    const std::string &Argument = Arguments[Index];
    if (Argument == "--help" || Argument == "-h") {
      Out << kDiffUsage;
      return 0;
    }
    if (Argument == "--ignore") {
      if (Index + 1 >= Arguments.size()) return UsageError("--ignore needs a pattern");
      try {
        Ignore.push_back(PathPattern::Parse(Arguments[++Index]));
      } catch (const std::invalid_argument &Problem) {
        return UsageError(Problem.what());
      }
    } else if (Argument.size() > 1 && Argument[0] == '-') {
      return UsageError("unknown option \"" + Argument + "\" for diff");
    } else {
      Files.push_back(Argument);
    }
  }
  if (Files.size() != 2) return UsageError("diff takes two report files, not " + std::to_string(Files.size()));

  nlohmann::json Left;
  nlohmann::json Right;
  try {
    Left = LoadJsonFile(Files[0]);
    Right = LoadJsonFile(Files[1]);
  } catch (const std::runtime_error &Problem) {
    Err << "ccxsim: " << Problem.what() << "\n";
    return 2;
  }
  const std::vector<ReportDifference> Differences = DiffReports(Left, Right, Ignore);
  for (const ReportDifference &Difference : Differences) {
    Out << Difference.Path << ": " << Difference.Left << " != " << Difference.Right << "\n";
  }
  if (Differences.empty()) {
    Out << "reports agree\n";
    return 0;
  }
  Out << Differences.size() << (Differences.size() == 1 ? " difference\n" : " differences\n");
  return 1;
}

}  // namespace ccxsim
