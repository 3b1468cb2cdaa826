#include "sim/files/LockFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace sim {
namespace {

std::string Quoted(const std::filesystem::path &Path) { return "'" + Path.string() + "'"; }

// Who holds the lock, as its lock file says.
std::string HolderOf(int Fd) {
  char Text[32] = {};
  const ssize_t Got = pread(Fd, Text, sizeof(Text) - 1, 0);
  std::string Pid;
  for (ssize_t Index = 0; Index < Got && std::isdigit(static_cast<unsigned char>(Text[Index])); Index++) {
    Pid += Text[Index];
  }
  return Pid.empty() ? "a process that has not written its ID into it" : "process " + Pid;
}

bool SameFile(const struct stat &Left, const struct stat &Right) {
  return Left.st_dev == Right.st_dev && Left.st_ino == Right.st_ino;
}

}  // namespace

LockFile::LockFile(const std::filesystem::path &Path, const std::string &What) : Path_(Path) {
  for (int Attempt = 0; Attempt < 16; Attempt++) {
    // Never through a symbolic link planted at the name, nor into a file linked elsewhere too:
    // the lock file is truncated and written.
    const int Fd = open(Path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (Fd < 0) {
      throw LockFileError(What + ": cannot create its lock file " + Quoted(Path) + ": " + std::strerror(errno));
    }
    struct stat Held;
    if (fstat(Fd, &Held) != 0 || !S_ISREG(Held.st_mode) || Held.st_nlink != 1) {
      close(Fd);
      throw LockFileError(What + ": its lock file " + Quoted(Path) + " is not a regular file of its own");
    }
    if (flock(Fd, LOCK_EX | LOCK_NB) != 0) {
      const int Error = errno;
      const std::string Holder = HolderOf(Fd);
      close(Fd);
      if (Error == EWOULDBLOCK) {
        throw LockFileError(What + " is in use by another run: " + Holder + " holds its lock file " + Quoted(Path));
      }
      throw LockFileError(What + ": cannot lock " + Quoted(Path) + ": " + std::strerror(Error));
    }
    // A holder letting go removes the file; if that happened after this open, the lock guards a
    // file no longer at the name, and the name is opened again.
    struct stat Named;
    if (stat(Path.c_str(), &Named) == 0 && SameFile(Held, Named)) {
      const std::string Pid = std::to_string(getpid()) + "\n";
      if (ftruncate(Fd, 0) != 0 || pwrite(Fd, Pid.data(), Pid.size(), 0) != static_cast<ssize_t>(Pid.size())) {
        const int Error = errno;
        close(Fd);
        throw LockFileError(What + ": cannot write its lock file " + Quoted(Path) + ": " + std::strerror(Error));
      }
      Fd_ = Fd;
      return;
    }
    close(Fd);
  }
  throw LockFileError(What + ": its lock file " + Quoted(Path) + " keeps being replaced");
}

LockFile::~LockFile() {
  struct stat Held, Named;
  if (fstat(Fd_, &Held) == 0 && stat(Path_.c_str(), &Named) == 0 && SameFile(Held, Named)) unlink(Path_.c_str());
  close(Fd_);
}

}  // namespace sim
