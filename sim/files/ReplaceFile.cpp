#include "sim/files/ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <random>
#include <string>

#include "sim/files/TemporaryPaths.h"

namespace sim {
namespace {

std::string Quoted(const std::filesystem::path &Path) { return "'" + Path.string() + "'"; }

std::filesystem::path FolderOf(const std::filesystem::path &Path) {
  return Path.has_parent_path() ? Path.parent_path() : std::filesystem::path(".");
}

// The permissions of the file at Path, nothing when there is none; throws when what lies there
// may not be replaced.
std::optional<mode_t> ReplaceableMode(const std::filesystem::path &Path) {
  struct stat Status;
  if (lstat(Path.c_str(), &Status) != 0) {
    if (errno == ENOENT) return std::nullopt;
    throw ReplaceFileError(std::string("it cannot be examined: ") + std::strerror(errno));
  }
  if (S_ISLNK(Status.st_mode)) {
    throw ReplaceFileError("it is a symbolic link: name the file it points to, which is the one to replace");
  }
  if (!S_ISREG(Status.st_mode)) throw ReplaceFileError("it is not a regular file, so it is not replaced");
  if ((Status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || access(Path.c_str(), W_OK) != 0) {
    throw ReplaceFileError("it is read-only");
  }
  return Status.st_mode & 07777;
}

// A temporary file beside Path under a name no other file has, opened for writing; it never
// follows nor reuses whatever lies at a name already taken.
struct Temporary {
  std::filesystem::path Path;
  int Fd = -1;
};
Temporary CreateTemporary(const std::filesystem::path &Path) {
  static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 Random(std::random_device{}() ^ (uint64_t(getpid()) << 32));
  const std::filesystem::path Folder = FolderOf(Path);
  int Error = EEXIST;
  for (int Attempt = 0; Attempt < 100 && Error == EEXIST; Attempt++) {
    std::string Name = Path.filename().string() + ".tmp.";
    for (int Letter = 0; Letter < 6; Letter++) Name += kLetters[Random() % (sizeof(kLetters) - 1)];
    Temporary Result{Path.has_parent_path() ? Folder / Name : std::filesystem::path(Name)};
    Result.Fd = open(Result.Path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (Result.Fd >= 0) return Result;
    Error = errno;
  }
  if (Error == ENOENT) throw ReplaceFileError("its folder " + Quoted(Folder) + " does not exist");
  throw ReplaceFileError("cannot create a temporary file in the folder " + Quoted(Folder) + ": " +
                         std::strerror(Error));
}

}  // namespace

void CheckReplaceable(const std::filesystem::path &Path) {
  ReplaceableMode(Path);
  const Temporary Probe = CreateTemporary(Path);
  close(Probe.Fd);
  unlink(Probe.Path.c_str());
}

void ReplaceFile(const std::filesystem::path &Path, std::string_view Bytes) {
  const std::optional<mode_t> Mode = ReplaceableMode(Path);
  Temporary File = CreateTemporary(Path);
  const RemovedOnSignal Registration(File.Path);
  auto Fail = [&](const std::string &What) {
    const int Error = errno;
    if (File.Fd >= 0) close(File.Fd);
    unlink(File.Path.c_str());
    throw ReplaceFileError(What + ": " + std::strerror(Error));
  };
  if (Mode && fchmod(File.Fd, *Mode) != 0) Fail("cannot give " + Quoted(File.Path) + " the file's permissions");
  for (size_t Done = 0; Done < Bytes.size();) {
    const ssize_t Wrote = write(File.Fd, Bytes.data() + Done, Bytes.size() - Done);
    if (Wrote < 0 && errno == EINTR) continue;
    if (Wrote <= 0) {
      if (Wrote == 0) errno = EIO;
      Fail("cannot write " + Quoted(File.Path));
    }
    Done += static_cast<size_t>(Wrote);
  }
  if (fsync(File.Fd) != 0) Fail("cannot flush " + Quoted(File.Path) + " to disk");
  const int Fd = File.Fd;
  File.Fd = -1;
  if (close(Fd) != 0) Fail("cannot write " + Quoted(File.Path));
  if (rename(File.Path.c_str(), Path.c_str()) != 0) Fail("cannot rename " + Quoted(File.Path) + " over it");
  // The rename itself reaches the disk with the folder; a folder that cannot be flushed still
  // holds the new file.
  const int Folder = open(FolderOf(Path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Folder >= 0) {
    fsync(Folder);
    close(Folder);
  }
}

}  // namespace sim
