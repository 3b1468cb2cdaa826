#include "tools/TablesCommand.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "sim/consumers/Iasl.h"
#include "sim/files/InputFile.h"
#include "sim/files/TemporaryPaths.h"
#include "tools/QratReader.h"

namespace ccxsim {

const char *const kTablesUsage =
    "usage: ccxsim tables DIR|FILE\n"
    "  decodes the tables ccxsim boot --out DIR wrote (DIR/acpi/*.dat, DIR/acpi/*.aml, DIR/smbios.bin), or\n"
    "  one such file: ACPI tables with iasl -d (run on a copy), the SMBIOS dump with dmidecode --from-dump,\n"
    "  and the resource affinity table QRAT field by field\n"
    "  exit status: 0 every table decoded, 1 a table refused or a tool failed, 2 a usage error or no tables\n";

namespace {

namespace fs = std::filesystem;

enum class TableKind { Qrat, Smbios, Acpi };

// The kind of table Bytes hold, by the signature they start with.
TableKind KindOf(const std::vector<uint8_t> &Bytes) {
  auto StartsWith = [&](const char *Signature) {
    const size_t Size = std::strlen(Signature);
    return Bytes.size() >= Size && std::memcmp(Bytes.data(), Signature, Size) == 0;
  };
  if (StartsWith("QRAT")) return TableKind::Qrat;
  if (StartsWith("_SM3_") || StartsWith("_SM_")) return TableKind::Smbios;
  return TableKind::Acpi;
}

// The table files a boot's --out directory holds, in name order; the file itself for a file.
std::vector<fs::path> TableFiles(const fs::path &Path) {
  std::error_code Error;
  if (!fs::is_directory(Path, Error)) return {Path};
  std::vector<fs::path> Files;
  for (const fs::directory_entry &Entry : fs::directory_iterator(Path / "acpi", Error)) {
    const std::string Extension = Entry.path().extension().string();
    if (Entry.is_regular_file(Error) && (Extension == ".dat" || Extension == ".aml")) Files.push_back(Entry.path());
  }
  std::sort(Files.begin(), Files.end());
  if (fs::is_regular_file(Path / "smbios.bin", Error)) Files.push_back(Path / "smbios.bin");
  return Files;
}

// iasl -d writes NAME.dsl beside its input, so it runs on a copy: a listing never overwrites a
// source next to the table (SSDT-CPC.dsl).
bool DisassembleAcpi(const fs::path &File, std::ostream &Out, std::ostream &Err) {
  const std::optional<fs::path> Iasl = sim::FindIasl();
  if (!Iasl) {
    Err << "ccxsim: " << File.string()
        << ": iasl is not installed (Debian's acpica-tools; scripts/setup installs it)\n";
    return false;
  }
  // A folder of its own for the tool run, removed with everything in it when the run is over.
  const sim::ScratchFolder Scratch("ccxsim-tables");
  fs::copy_file(File, Scratch.Path() / File.filename());
  const sim::IaslRun Run = sim::RunIasl(*Iasl, {"-d", sim::PathArgument(File.filename())}, Scratch.Path());
  std::ifstream Listing(Scratch.Path() / (File.stem().string() + ".dsl"), std::ios::binary);
  if (Run.ExitCode != 0 || !Listing) {
    Err << "ccxsim: " << File.string() << ": iasl -d failed (exit status " << Run.ExitCode << "):\n" << Run.Output;
    return false;
  }
  Out << Listing.rdbuf();
  return true;
}

bool DecodeSmbios(const fs::path &File, std::ostream &Out, std::ostream &Err) {
  const std::optional<fs::path> Dmidecode = sim::FindHostTool("dmidecode");
  if (!Dmidecode) {
    Err << "ccxsim: " << File.string() << ": dmidecode is not installed (scripts/setup installs it)\n";
    return false;
  }
  const sim::IaslRun Run =
      sim::RunHostTool(*Dmidecode, {"--from-dump", sim::PathArgument(fs::absolute(File))}, fs::current_path());
  Out << Run.Output;
  if (Run.ExitCode != 0) {
    Err << "ccxsim: " << File.string() << ": dmidecode --from-dump failed (exit status " << Run.ExitCode << ")\n";
    return false;
  }
  return true;
}

bool DecodeQrat(const fs::path &File, const std::vector<uint8_t> &Bytes, std::ostream &Out, std::ostream &Err) {
  try {
    const QratTable Table = ReadQrat(Bytes, File.string());
    Out << QratListing(Table, File.string());
    if (!Table.ChecksumCorrect) Err << "ccxsim: " << File.string() << ": the checksum is incorrect\n";
    return Table.ChecksumCorrect;
  } catch (const QratError &Error) {
    Err << "ccxsim: " << Error.what() << "\n";
    return false;
  }
}

}  // namespace

int RunTablesCommand(const std::vector<std::string> &Arguments, std::ostream &Out, std::ostream &Err) {
  if (Arguments.size() != 1) {
    Err << "ccxsim: tables takes one directory or file\n" << kTablesUsage;
    return 2;
  }
  if (Arguments[0].empty()) {
    Err << "ccxsim: tables takes a directory or file, not an empty name\n" << kTablesUsage;
    return 2;
  }
  const fs::path Path = Arguments[0];
  std::error_code Error;
  if (!fs::exists(Path, Error)) {
    Err << "ccxsim: " << Path.string() << ": no such file or directory\n";
    return 2;
  }
  const std::vector<fs::path> Files = TableFiles(Path);
  if (Files.empty()) {
    Err << "ccxsim: " << Path.string() << " holds no tables (acpi/*.dat, acpi/*.aml, smbios.bin)\n";
    return 2;
  }
  bool AllDecoded = true;
  for (const fs::path &File : Files) {
    Out << "=== " << File.string() << " ===\n";
    std::vector<uint8_t> Bytes;
    try {
      const std::string Text = sim::ReadInputFile(File, "table", sim::kTableInputCap);
      Bytes.assign(Text.begin(), Text.end());
    } catch (const sim::InputFileError &Failure) {
      Err << "ccxsim: " << Failure.what() << "\n";
      AllDecoded = false;
      continue;
    }
    try {
      switch (KindOf(Bytes)) {
        case TableKind::Qrat: AllDecoded = DecodeQrat(File, Bytes, Out, Err) && AllDecoded; break;
        case TableKind::Smbios: AllDecoded = DecodeSmbios(File, Out, Err) && AllDecoded; break;
        case TableKind::Acpi: AllDecoded = DisassembleAcpi(File, Out, Err) && AllDecoded; break;
      }
    } catch (const std::exception &Failure) {
      Err << "ccxsim: " << File.string() << ": " << Failure.what() << "\n";
      AllDecoded = false;
    }
    Out << "\n";
  }
  return AllDecoded ? 0 : 1;
}

}  // namespace ccxsim
