#include "tools/DiffCommand.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "sim/files/JsonInput.h"
#include "tools/IgnoreFile.h"
#include "tools/ReportDiff.h"

namespace ccxsim {

const char *const kDiffUsage =
    "usage: ccxsim diff [--ignore PATTERN]... [--ignore-file FILE]... [--preset NAME]... A.json B.json\n"
    "  compares two reports field by field and prints each difference as PATH: A-VALUE != B-VALUE;\n"
    "  records with a key (protocols, MSRs, variables, ...) pair by it, and one only a side holds is\n"
    "  the line \"only in A: PATH\" or \"only in B: PATH\"; then the count of each section of a boot\n"
    "  --ignore PATTERN    leave out the field PATTERN names and everything below it; * stands for any\n"
    "                      one key and [*] for any one element, e.g. --ignore 'boots[*].hardware_accesses'\n"
    "  --ignore-file FILE  the patterns in FILE, one a line; blank lines and lines starting with # are left out\n"
    "  --preset NAME       a compiled-in ignore file: image, what an image boot truly differs in from a\n"
    "                      host boot (data/diff-image-vs-host.ignore); ovmf, what a boot inside OVMF\n"
    "                      differs in from the simulator's boot of the image (data/diff-sim-vs-ovmf.ignore)\n"
    "  exit status: 0 the reports agree, 1 they differ, 2 a usage error or a file that cannot be read\n";

namespace {

// The report at Path, parsed strictly: the comparison and the printing of values go down one call
// per level, which the reader's depth cap keeps far from the stack's end. Throws InputFileError
// (a std::runtime_error) naming the file and what is wrong with it.
nlohmann::json LoadReport(const std::string &Path) { return sim::ReadJsonInputFile<nlohmann::json>(Path, "report"); }

// What the differences amount to in each section, in document order.
void PrintSections(std::ostream &Out, const std::vector<ReportDifference> &Differences) {
  struct Counts {
    size_t Changed = 0;
    size_t OnlyInLeft = 0;
    size_t OnlyInRight = 0;
  };
  std::vector<std::pair<std::string, Counts>> Sections;
  for (const ReportDifference &Difference : Differences) {
    auto Section = std::find_if(Sections.begin(), Sections.end(),
                                [&](const auto &Each) { return Each.first == Difference.Section; });
    if (Section == Sections.end()) Section = Sections.insert(Sections.end(), {Difference.Section, {}});
    Counts &Count = Section->second;
    (Difference.Kind == ReportDifference::OnlyInLeft    ? Count.OnlyInLeft
     : Difference.Kind == ReportDifference::OnlyInRight ? Count.OnlyInRight
                                                        : Count.Changed)++;
  }
  Out << "\nby section:\n";
  for (const auto &[Section, Count] : Sections) {
    Out << "  " << Section << ": " << Count.Changed << (Count.Changed == 1 ? " difference, " : " differences, ")
        << Count.OnlyInLeft << " only in A, " << Count.OnlyInRight << " only in B\n";
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
    const char *ValueName = Argument == "--ignore"        ? "a pattern"
                            : Argument == "--ignore-file" ? "a file"
                            : Argument == "--preset"      ? "a name"
                                                          : nullptr;
    if (ValueName != nullptr && Index + 1 >= Arguments.size()) return UsageError(Argument + " needs " + ValueName);
    if (ValueName != nullptr && Arguments[Index + 1].empty()) {
      return UsageError(Argument + " needs " + ValueName + ", not an empty value");
    }
    try {
      if (Argument == "--ignore") {
        Ignore.push_back(PathPattern::Parse(Arguments[++Index]));
      } else if (Argument == "--ignore-file") {
        const std::vector<PathPattern> FromFile = LoadIgnoreFile(Arguments[++Index]);
        Ignore.insert(Ignore.end(), FromFile.begin(), FromFile.end());
      } else if (Argument == "--preset") {
        const std::string Name = Arguments[++Index];
        const auto &Presets = DiffPresets();
        const auto Preset =
            std::find_if(Presets.begin(), Presets.end(), [&](const DiffPreset &Each) { return Name == Each.Name; });
        if (Preset == Presets.end()) {
          std::string Known;
          for (const DiffPreset &Each : Presets) Known += std::string(Known.empty() ? "" : ", ") + Each.Name;
          return UsageError("unknown preset \"" + Name + "\" (known: " + Known + ")");
        }
        const std::vector<PathPattern> FromPreset = ParseIgnoreText(Preset->Text, Preset->File);
        Ignore.insert(Ignore.end(), FromPreset.begin(), FromPreset.end());
      } else if (Argument.size() > 1 && Argument[0] == '-') {
        return UsageError("unknown option \"" + Argument + "\" for diff");
      } else if (Argument.empty()) {
        return UsageError("diff takes two report files, not an empty name");
      } else {
        Files.push_back(Argument);
      }
    } catch (const std::invalid_argument &Problem) {
      return UsageError(Problem.what());
    } catch (const std::runtime_error &Problem) {
      Err << "ccxsim: " << Problem.what() << "\n";
      return 2;
    }
  }
  if (Files.size() != 2) return UsageError("diff takes two report files, not " + std::to_string(Files.size()));

  nlohmann::json Left;
  nlohmann::json Right;
  try {
    Left = LoadReport(Files[0]);
    Right = LoadReport(Files[1]);
  } catch (const std::runtime_error &Problem) {
    Err << "ccxsim: " << Problem.what() << "\n";
    return 2;
  }
  const std::vector<ReportDifference> Differences = DiffReports(Left, Right, Ignore);
  for (const ReportDifference &Difference : Differences) {
    switch (Difference.Kind) {
      case ReportDifference::OnlyInLeft: Out << "only in A: " << Difference.Path << "\n"; break;
      case ReportDifference::OnlyInRight: Out << "only in B: " << Difference.Path << "\n"; break;
      case ReportDifference::Changed:
        Out << Difference.Path << ": " << Difference.Left << " != " << Difference.Right << "\n";
        break;
    }
  }
  if (Differences.empty()) {
    Out << "reports agree\n";
    return 0;
  }
  PrintSections(Out, Differences);
  Out << Differences.size() << (Differences.size() == 1 ? " difference\n" : " differences\n");
  return 1;
}

}  // namespace ccxsim
