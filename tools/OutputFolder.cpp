#include "tools/OutputFolder.h"

#include <cctype>

#include "sim/files/LockFile.h"
#include "sim/files/ReplaceFile.h"

namespace ccxsim {
namespace {

namespace fs = std::filesystem;

std::string Quoted(const fs::path &Path) { return "'" + Path.string() + "'"; }

// Whether Name is boot-N-CHANNEL for a debug channel's file.
bool IsChannelFile(const std::string &Name) {
  if (!Name.starts_with("boot-")) return false;
  size_t End = 5;
  while (End < Name.size() && std::isdigit(static_cast<unsigned char>(Name[End]))) End++;
  if (End == 5 || End >= Name.size() || Name[End] != '-') return false;
  for (const char *Channel : kChannelFiles) {
    if (Name.compare(End + 1, std::string::npos, Channel) == 0) return true;
  }
  return false;
}

void Remove(const fs::path &Path) {
  std::error_code Error;
  fs::remove(Path, Error);
  if (Error) throw OutputError("cannot remove " + Quoted(Path) + ", which a previous run wrote: " + Error.message());
}

}  // namespace

std::string ChannelFile(uint64_t Boot, const char *Channel) { return "boot-" + std::to_string(Boot) + "-" + Channel; }

OutputFolder::OutputFolder(const fs::path &Dir) : Dir_(Dir) {
  std::error_code Error;
  const fs::file_status Status = fs::status(Dir, Error);
  if (fs::exists(Status) && !fs::is_directory(Status)) {
    throw OutputError("--out " + Quoted(Dir) + " is not a folder");
  }
  fs::create_directories(Dir, Error);
  if (Error) throw OutputError("--out " + Quoted(Dir) + ": cannot create the folder: " + Error.message());
  Lock_ = std::make_unique<sim::LockFile>(Dir / ".ccxsim.lock", "output folder " + Quoted(Dir));
  // report.json goes first: whatever happens next, no report stands beside files it does not describe.
  Remove(Dir / kReportFile);
  const std::string Cpc = std::string(kCpcFolder) + "/" + kCpcName;
  for (const std::string &File : {std::string(kPcctFile), std::string(kHestFile), std::string(kSmbiosFile),
                                  std::string(kSratFile), std::string(kQratFile), Cpc + ".dsl", Cpc + ".aml"}) {
    Remove(Dir / File);
  }
  std::vector<fs::path> Channels;
  for (const fs::directory_entry &Entry : fs::directory_iterator(Dir, Error)) {
    if (IsChannelFile(Entry.path().filename().string())) Channels.push_back(Entry.path());
  }
  if (Error) throw OutputError("--out " + Quoted(Dir) + ": cannot be listed: " + Error.message());
  for (const fs::path &Channel : Channels) Remove(Channel);
}

OutputFolder::~OutputFolder() = default;

void WriteOutputFile(const fs::path &Path, std::string_view Bytes) {
  std::error_code Error;
  if (Path.has_parent_path()) fs::create_directories(Path.parent_path(), Error);
  if (Error) throw OutputError("cannot create the folder " + Quoted(Path.parent_path()) + ": " + Error.message());
  try {
    sim::ReplaceFile(Path, Bytes);
  } catch (const sim::ReplaceFileError &Failure) {
    throw OutputError("cannot write " + Quoted(Path) + ": " + Failure.what());
  }
}

void WriteOutputTable(const fs::path &Path, const std::vector<uint8_t> &Bytes) {
  if (Bytes.empty()) return;
  WriteOutputFile(Path, std::string_view(reinterpret_cast<const char *>(Bytes.data()), Bytes.size()));
}

}  // namespace ccxsim
